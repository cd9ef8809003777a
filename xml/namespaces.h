// Namespaces, as far as the reader needs them: which end tag closes which open
// element, found without walking the stack of open elements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tree/label.h"
#include "xml/nametree.h"

namespace qv {

using UriId = std::int32_t;
constexpr UriId kNoUri = -1;

// What decides whether an end tag closes an open element: the local name and the
// URI when there is one, else the local name and the prefix (or its absence).
// The views point into the document, which outlives the scan.
struct NameKey {
  std::string_view local;
  std::string_view prefix;
  UriId uri = kNoUri;
  bool hasPrefix = false;
  bool operator==(const NameKey&) const = default;
};

struct NameKeyHash {
  std::size_t operator()(const NameKey& k) const {
    std::size_t h = std::hash<std::string_view>{}(k.local);
    h ^= (static_cast<std::size_t>(k.uri) + 0x9E3779B97F4A7C15u + (h << 6) + (h >> 2));
    if (k.hasPrefix) h ^= std::hash<std::string_view>{}(k.prefix) * 31 + 1;
    return h;
  }
};

// The default namespace and one slot per prefix. Every binding is recorded, so
// that undo(mark) restores the scope as it was when mark() was taken.
class NamespaceScope {
 public:
  // Applies one attribute of a start tag: "xmlns" binds the default namespace
  // (an empty value unbinds it), "xmlns:p" binds the prefix p; others do nothing.
  void declare(const LabelAttr& attr) {
    if (!attr.name.prefix && attr.name.local == "xmlns") {
      bind(defaultUri_, attr.value.empty() ? kNoUri : intern(attr.value));
    } else if (attr.name.prefix && *attr.name.prefix == "xmlns") {
      bind(prefixUris_.try_emplace(attr.name.local, kNoUri).first->second, intern(attr.value));
    }
  }
  std::size_t mark() const { return undo_.size(); }
  void undo(std::size_t mark) {
    while (undo_.size() > mark) {
      *undo_.back().first = undo_.back().second;
      undo_.pop_back();
    }
  }
  // The key of an element or end tag with this name in the current scope.
  NameKey keyOf(const Name& name) const {
    const UriId uri = uriOf(name);
    if (uri != kNoUri) return {name.local, {}, uri, false};
    return {name.local, name.prefix.value_or(std::string_view()), kNoUri, name.prefix.has_value()};
  }

 private:
  struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };

  UriId intern(Label uri);
  void bind(UriId& slot, UriId uri) {
    undo_.push_back({&slot, slot});
    slot = uri;
  }
  UriId uriOf(const Name& name) const {
    if (!name.prefix) return defaultUri_;
    const auto it = prefixUris_.find(*name.prefix);
    return it == prefixUris_.end() ? kNoUri : it->second;
  }

  UriId defaultUri_ = kNoUri;
  std::unordered_map<std::string_view, UriId> prefixUris_;
  std::vector<std::pair<UriId*, UriId>> undo_;
  std::unordered_map<std::string, UriId, StringHash, std::equal_to<>> narrowUris_;
  std::unordered_map<std::u32string, UriId> wideUris_;
};

// The open elements, innermost last. Each name key remembers its innermost open
// element, and each open element what its key remembered before.
class OpenElements {
 public:
  std::size_t depth() const { return open_.size(); }
  // Opens an element; scopeMark is handed back when it closes.
  void open(const NameKey& key, std::size_t scopeMark) {
    KeyNode* node = &*innermost_.try_emplace(key, 0u).first;
    open_.push_back({node, node->second, scopeMark});
    node->second = static_cast<std::uint32_t>(open_.size());
  }
  // The depth of the innermost open element with this key (0 for the outermost).
  std::optional<std::size_t> innermost(const NameKey& key) const {
    if (open_.empty()) return std::nullopt;
    if (open_.back().node->first == key) return open_.size() - 1;
    const auto it = innermost_.find(key);
    if (it == innermost_.end() || it->second == 0) return std::nullopt;
    return it->second - 1;
  }
  // Closes the innermost element and returns the scope mark it was opened with.
  std::size_t close() {
    const Open e = open_.back();
    open_.pop_back();
    e.node->second = e.previous;
    return e.scopeMark;
  }

 private:
  using KeyNode = std::pair<const NameKey, std::uint32_t>;  // 1 + index in open_, 0: none
  struct Open {
    KeyNode* node;
    std::uint32_t previous;
    std::size_t scopeMark;
  };
  std::vector<Open> open_;
  std::unordered_map<NameKey, std::uint32_t, NameKeyHash> innermost_;
};

}  // namespace qv
