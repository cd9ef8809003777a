#include "xml/reader.h"

#include <memory>

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
    const Label label = arena_.add(std::string_view(label_));
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
  TreeBuilder<Label>& builder_;
  TextArena& arena_;
  std::string label_;
};

struct DocumentStorage {
  std::string document;
  std::string path;
  TextArena arena;
};

}  // namespace

LabelTree nameTreeOf(std::string inputPath, std::string document) {
  // The storage is placed first, so that nothing moves the document after its
  // slices have become labels.
  auto storage = std::make_shared<DocumentStorage>();
  storage->document = std::move(document);
  storage->path = std::move(inputPath);
  TreeBuilder<Label> builder;
  // Real documents have a node for every few dozen bytes; denser ones grow the tree.
  builder.reserve(storage->document.size() / 16 + 16);
  builder.open(Label(storage->path));
  TreeEvents events(builder, storage->arena);
  parseXML(storage->document, events);
  return std::move(builder).finish(std::move(storage));
}

}  // namespace qv
