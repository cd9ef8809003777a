// tree/: the rose tree every stage shares, its node labels and node numbers. This
// header: an immutable tree stored in pre-order with subtree sizes, so walking,
// copying and destroying never recurse.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/error.h"
#include "base/threads.h"
#include "platform/memory.h"
#include "tree/label.h"

namespace qv {

using NodeIndex = std::uint32_t;

// The labels of a tree's nodes, in node order.
template <class T>
class LabelColumn {
 public:
  void reserve(std::size_t n) { labels_.reserve(n); }
  void push_back(T label) { labels_.push_back(std::move(label)); }
  std::size_t size() const { return labels_.size(); }
  const T& operator[](NodeIndex n) const { return labels_[n]; }

 private:
  LargeVector<T> labels_;
};

// A Label in 12 bytes, not 16: its pointer, and its size and form in 32 bits. The
// rare label of 2^31 characters or more (2^30 wide) keeps its size aside.
template <>
class LabelColumn<Label> {
 public:
  void reserve(std::size_t n) {
    data_.reserve(n);
    bits_.reserve(n);
  }
  void push_back(Label label) {
    std::uint32_t bits = kLongSize;
    const std::size_t size = label.size();
    // Sizes fit beside the form's bits, and are never kLongSize.
    if (label.form() == Label::Form::Narrow && size < kWide) {
      bits = static_cast<std::uint32_t>(size);
    } else if (label.form() != Label::Form::Narrow && size < kWideSize) {
      bits = static_cast<std::uint32_t>(size) | kWide |
             (label.form() == Label::Form::Wide16 ? kHalf : 0);
    } else {
      longSizes_.emplace(static_cast<NodeIndex>(data_.size()), LongSize{size, label.form()});
    }
    data_.push_back(label.data());
    bits_.push_back(bits);
  }
  std::size_t size() const { return data_.size(); }
  // Points each label at where(label): its characters, moved elsewhere.
  template <class F>
  void relocate(F where) {
    for (NodeIndex n = 0; n < data_.size(); ++n) data_[n] = where((*this)[n]);
  }
  Label operator[](NodeIndex n) const {
    const std::uint32_t bits = bits_[n];
    if (bits == kLongSize) {
      const LongSize& kept = longSizes_.at(n);
      return Label(data_[n], kept.size, kept.form);
    }
    if ((bits & kWide) == 0) return Label(data_[n], bits, Label::Form::Narrow);
    return Label(data_[n], bits & kWideSize,
                 (bits & kHalf) != 0 ? Label::Form::Wide16 : Label::Form::Wide32);
  }

 private:
  static constexpr std::uint32_t kWide = std::uint32_t{1} << 31;
  static constexpr std::uint32_t kHalf = kWide >> 1;
  static constexpr std::uint32_t kWideSize = kHalf - 1;
  static constexpr std::uint32_t kLongSize = ~std::uint32_t{0};
  struct LongSize {
    std::size_t size;
    Label::Form form;
  };
  LargeVector<const void*> data_;
  LargeVector<std::uint32_t> bits_;
  std::unordered_map<NodeIndex, LongSize> longSizes_;
};

template <class T>
class Tree {
 public:
  class ChildIterator {
   public:
    ChildIterator(const Tree* tree, NodeIndex at) : tree_(tree), at_(at) {}
    NodeIndex operator*() const { return at_; }
    ChildIterator& operator++() {
      at_ += tree_->subtreeSize(at_);
      return *this;
    }
    bool operator!=(const ChildIterator& o) const { return at_ != o.at_; }
    bool operator==(const ChildIterator& o) const { return at_ == o.at_; }

   private:
    const Tree* tree_;
    NodeIndex at_;
  };
  struct Children {
    ChildIterator b, e;
    ChildIterator begin() const { return b; }
    ChildIterator end() const { return e; }
  };

  Tree() = default;
  Tree(LabelColumn<T> labels, LargeVector<NodeIndex> sizes, std::shared_ptr<const void> storage)
      : labels_(std::move(labels)), sizes_(std::move(sizes)), storage_(std::move(storage)) {}

  static constexpr NodeIndex root() { return 0; }
  // Number of nodes; a built tree has at least its root.
  std::size_t size() const { return labels_.size(); }
  // A const T&, or for labels a Label.
  decltype(auto) label(NodeIndex n) const { return labels_[n]; }
  NodeIndex subtreeSize(NodeIndex n) const { return sizes_[n]; }
  bool isLeaf(NodeIndex n) const { return sizes_[n] == 1; }
  Children children(NodeIndex n) const {
    return {ChildIterator(this, n + 1), ChildIterator(this, n + sizes_[n])};
  }

 private:
  LabelColumn<T> labels_;
  LargeVector<NodeIndex> sizes_;
  std::shared_ptr<const void> storage_;  // what the labels point into
};

// Builds a Tree<T> in pre-order: open() starts a node that takes the following
// nodes as children until its close(); leaf() adds a childless node.
template <class T>
class TreeBuilder {
 public:
  // Room for about n nodes. Large arrays are mapped lazily, so room that is not
  // used costs no memory, while growing copies the whole tree each time.
  void reserve(std::size_t n) {
    labels_.reserve(n);
    sizes_.reserve(n);
  }
  void open(T label) { open_.push_back(add(std::move(label))); }
  void leaf(T label) { add(std::move(label)); }
  // Before finish(): every label's data becomes where(label) (see LabelColumn<Label>).
  template <class F>
  void relocateLabels(F where) {
    labels_.relocate(where);
  }
  void close() {
    const NodeIndex n = open_.back();
    open_.pop_back();
    sizes_[n] = static_cast<NodeIndex>(sizes_.size()) - n;
  }
  // Closes every node still open.
  Tree<T> finish(std::shared_ptr<const void> storage = nullptr) && {
    while (!open_.empty()) close();
    // No shrink_to_fit: large arrays are mapped lazily, so their unused capacity
    // costs no memory, while shrinking would copy the whole tree once more.
    return Tree<T>(std::move(labels_), std::move(sizes_), std::move(storage));
  }

 private:
  // A box's number (boId) is its node's index plus one, a signed 32-bit integer:
  // a tree stops below 2^31 nodes.
  static constexpr std::size_t kMaxNodes = 0x7FFFFFFF;
  NodeIndex add(T label) {
    if (sizes_.size() >= kMaxNodes) throw Error::program("too many nodes: more than 2147483647");
    labels_.push_back(std::move(label));
    sizes_.push_back(1);
    return static_cast<NodeIndex>(sizes_.size() - 1);
  }
  LabelColumn<T> labels_;
  LargeVector<NodeIndex> sizes_;
  std::vector<NodeIndex> open_;
};

// A tree cut for work on several threads. A unit is a run of consecutive sibling
// subtrees, [begin, end) in pre-order, of at most a given number of nodes in all;
// the nodes in no unit (above) are ancestors of units. Units are disjoint, so each
// can be worked on alone; above is in pre-order, each node with its depth, and so
// is every unit's first node.
struct TreeSplit {
  struct Unit {
    NodeIndex begin, end;
    std::uint32_t depth;  // of the roots of its subtrees
  };
  struct Above {
    NodeIndex node;
    std::uint32_t depth;
  };
  std::vector<Unit> units;
  std::vector<Above> above;
};

template <class T>
TreeSplit splitTree(const Tree<T>& tree, std::size_t limit) {
  TreeSplit split;
  if (tree.subtreeSize(Tree<T>::root()) <= limit) {
    split.units.push_back({Tree<T>::root(), tree.subtreeSize(Tree<T>::root()), 0});
    return split;
  }
  std::vector<TreeSplit::Above> stack{{Tree<T>::root(), 0}};
  std::vector<TreeSplit::Above> large;  // children of one node that are too large for a unit
  while (!stack.empty()) {
    const TreeSplit::Above at = stack.back();
    stack.pop_back();
    split.above.push_back(at);
    large.clear();
    const std::uint32_t depth = at.depth + 1;
    TreeSplit::Unit run{0, 0, depth};
    for (NodeIndex c : tree.children(at.node)) {
      const std::size_t size = tree.subtreeSize(c);
      if (size > limit) {
        large.push_back({c, depth});
        continue;
      }
      // A run is of consecutive siblings only: it ends at a large one or when full.
      if (run.end != c || run.end - run.begin + size > limit) {
        if (run.end > run.begin) split.units.push_back(run);
        run = {c, c, depth};
      }
      run.end = static_cast<NodeIndex>(c + size);
    }
    if (run.end > run.begin) split.units.push_back(run);
    stack.insert(stack.end(), large.rbegin(), large.rend());
  }
  return split;
}

// The tree cut into units of which every one of `workers` threads gets several.
template <class T>
TreeSplit splitForWorkers(const Tree<T>& tree, unsigned workers) {
  return splitTree(tree, std::max<std::size_t>(tree.size() / (8 * (workers + 1)), kMinUnitNodes));
}

}  // namespace qv

namespace qv {

// A document's tree of labels: one node per element, text and unresolved reference,
// the root labelled with the input path.
using LabelTree = Tree<Label>;

}  // namespace qv
