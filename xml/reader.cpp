#include "xml/reader.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "xml/nametree.h"
#include "xml/scanner.h"

namespace qv {
namespace {

// Builds the label tree: element labels go to the arena, non-blank text that is
// a slice of the document is used where it lies, other text is copied.
class TreeEvents {
 public:
  TreeEvents(TreeBuilder<Label>& builder, TextArena& arena) : builder_(builder), arena_(arena) {}

  void startElement(const StartTag& t) {
    label_.clear();
    elementLabel(label_, t.name, t.attrs);
    const Label label = stored(label_);
    if (t.hasContent) {
      builder_.open(label);
    } else {
      builder_.leaf(label);
    }
  }
  void endElement() { builder_.close(); }
  void text(CDataKind /*kind*/, Label data, bool stableSlice) {
    if (isBlankText(data)) return;
    builder_.leaf(stableSlice ? data : arena_.copy(data));
  }
  void reference(std::string_view name) { builder_.leaf(Label(name)); }

 private:
  // The label in the arena. Most element labels repeat ("<title />" a million times
  // over): the last one of each hash is remembered and shared, in a table of fixed
  // size, so a document of distinct labels costs no more than before.
  Label stored(std::string_view text) {
    std::uint64_t head = 0, tail = 0;
    if (text.size() >= 8) {
      std::memcpy(&head, text.data(), 8);
      std::memcpy(&tail, text.data() + text.size() - 8, 8);
    } else {
      std::memcpy(&head, text.data(), text.size());
    }
    const std::uint64_t hash =
        (head * 0x9E3779B97F4A7C15u) ^ (tail + text.size()) * 0xC2B2AE3D27D4EB4Fu;
    Label& last = recent_[hash >> (64 - kRecentBits)];
    if (last.narrow() != text) last = arena_.add(text);
    return last;
  }

  static constexpr unsigned kRecentBits = 12;
  TreeBuilder<Label>& builder_;
  TextArena& arena_;
  std::string label_;
  // On the heap: the reader may run on a small stack.
  std::vector<Label> recent_ = std::vector<Label>(std::size_t{1} << kRecentBits);
};

struct DocumentStorage {
  Bytes document;
  std::string path;
  TextArena arena;
};

// Text labels are slices of the document: moved to its front, in document order,
// they let the rest of it go, most of a document being markup. Slices out of order
// or overlapping, which the scanner never makes, leave the document as it is.
void keepOnlySlices(TreeBuilder<Label>& builder, Bytes& document) {
  const auto at = [](const void* p) { return reinterpret_cast<std::uintptr_t>(p); };
  const auto isSliceOf = [&](Label label, const char* begin, std::size_t size) {
    return !label.wide() && at(label.data()) >= at(begin) &&
           at(label.data()) + label.size() <= at(begin) + size;
  };
  char* const old = document.data();
  std::uintptr_t last = at(old);
  bool ordered = true;
  builder.relocateLabels([&](Label label) {
    if (isSliceOf(label, old, document.size())) {
      ordered = ordered && at(label.data()) >= last;
      last = at(label.data()) + label.size();
    }
    return label.data();
  });
  if (!ordered) return;
  std::size_t kept = 0;
  builder.relocateLabels([&](Label label) -> const void* {
    if (!isSliceOf(label, old, document.size())) return label.data();
    std::memmove(old + kept, label.data(), label.size());
    kept += label.size();
    return old + kept - label.size();
  });
  document.resize(kept);
  document.shrinkToFit();
  if (document.data() == old) return;
  builder.relocateLabels([&](Label label) -> const void* {
    if (!isSliceOf(label, old, kept)) return label.data();
    return document.data() + (at(label.data()) - at(old));
  });
}

}  // namespace

LabelTree nameTreeOf(std::string inputPath, std::string_view document) {
  return nameTreeOf(std::move(inputPath), Bytes(document));
}

LabelTree nameTreeOf(std::string inputPath, Bytes document) {
  // The storage is placed first, so that nothing moves the document after its
  // slices have become labels.
  auto storage = std::make_shared<DocumentStorage>();
  storage->document = std::move(document);
  storage->path = std::move(inputPath);
  TreeBuilder<Label> builder;
  // Room for a node every 4 bytes, which only the densest documents ("<a/>" after
  // "<a/>") outgrow: the room is mapped lazily, so what goes unused costs no memory,
  // while growing copies the whole tree. A 32-bit address space takes a quarter.
  const std::size_t bytesPerNode = sizeof(void*) >= 8 ? 4 : 16;
  builder.reserve(storage->document.size() / bytesPerNode + 16);
  builder.open(Label(storage->path));
  TreeEvents events(builder, storage->arena);
  parseXML(storage->document, events);
  keepOnlySlices(builder, storage->document);
  return std::move(builder).finish(std::move(storage));
}

}  // namespace qv
