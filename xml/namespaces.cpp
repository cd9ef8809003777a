#include "xml/namespaces.h"

namespace qv {

UriId NamespaceScope::intern(Label uri) {
  const auto next = static_cast<UriId>(narrowUris_.size() + wideUris_.size());
  if (!uri.wide()) {
    const std::string_view text = uri.narrow();
    if (auto it = narrowUris_.find(text); it != narrowUris_.end()) return it->second;
    narrowUris_.emplace(std::string(text), next);
    return next;
  }
  // A wide value holds a code above 255, so it never equals a narrow one.
  return wideUris_.try_emplace(toU32(uri), next).first->second;
}

}  // namespace qv
