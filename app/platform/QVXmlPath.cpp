// The path expressions of QVXmlNode::selectSingleNode: parsed in one pass over the text into a
// list of steps, evaluated by walks over the tree's arrays. Nothing here recurses on the depth of
// the tree or the length of a path; a predicate's path has no predicate of its own, so an
// evaluation nests one other at most.
#include "QVXmlTree.h"

#include <array>
#include <memory>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

using ValueSet = std::unordered_set<std::string_view>;

struct Step {
  std::string_view name;
  // A predicate [@attribute=valuePath]: empty attribute for none.
  std::string_view attribute;
  std::vector<std::string_view> valuePath;  // the names of an absolute path of child steps
};

struct Path {
  bool absolute = false;
  std::vector<Step> steps;
};

// A step bound to one tree: its name's index, the predicate's attribute index (kQVXmlNoNode for
// none) and the values the attribute may take.
struct BoundStep {
  std::uint32_t name;
  std::uint32_t attribute;
  std::unique_ptr<ValueSet> values;  // only with a predicate: most steps have none
};

// What one selection needs besides the tree. A thread keeps one for its selections, cleared but
// with its capacity, so that a selection in steady state does not allocate (a load makes several
// per group); a selection made while the thread's own is in use gets a fresh one.
struct Scratch {
  Path path;
  std::vector<BoundStep> steps;
  bool inUse = false;
};

// What each byte may be in a name: kNameStart, kNameChar (a start is a name character too).
constexpr unsigned char kNameStart = 1;
constexpr unsigned char kNameChar = 2;
constexpr std::array<unsigned char, 256> kNameBytes = [] {
  std::array<unsigned char, 256> bytes{};
  for (int c = 0; c < 256; ++c) {
    const bool start = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
    const bool other = (c >= '0' && c <= '9') || c == '-' || c == '.';
    bytes[static_cast<std::size_t>(c)] = start ? kNameStart | kNameChar : other ? kNameChar : 0;
  }
  return bytes;
}();

bool isNameStart(char c) { return (kNameBytes[static_cast<unsigned char>(c)] & kNameStart) != 0; }

bool isNameChar(char c) { return (kNameBytes[static_cast<unsigned char>(c)] & kNameChar) != 0; }

// Reads a name without prefix at `pos`; empty when there is none.
std::string_view readName(std::string_view text, std::size_t& pos) {
  const std::size_t begin = pos;
  if (pos < text.size() && isNameStart(text[pos])) {
    while (pos < text.size() && isNameChar(text[pos])) ++pos;
  }
  return text.substr(begin, pos - begin);
}

// "//A/B/C" into its names.
bool parseAbsoluteNames(std::string_view text, std::vector<std::string_view>& names) {
  if (text.substr(0, 2) != "//") return false;
  std::size_t pos = 2;
  for (;;) {
    names.push_back(readName(text, pos));
    if (names.back().empty()) return false;
    if (pos == text.size()) return true;
    if (text[pos++] != '/') return false;
  }
}

// "[@Attr=//A/B]" at `pos`, when there is one.
bool parsePredicate(std::string_view text, std::size_t& pos, Step& step) {
  if (pos == text.size() || text[pos] != '[') return true;
  if (text.substr(pos, 2) != "[@") return false;
  pos += 2;
  step.attribute = readName(text, pos);
  if (step.attribute.empty() || pos == text.size() || text[pos] != '=') return false;
  const std::size_t close = text.find(']', pos);
  if (close == std::string_view::npos) return false;
  if (!parseAbsoluteNames(text.substr(pos + 1, close - pos - 1), step.valuePath)) return false;
  pos = close + 1;
  return true;
}

bool parsePath(std::string_view text, Path& path) {
  std::size_t pos = 0;
  if (text.substr(0, 2) == "//") {
    path.absolute = true;
    pos = 2;
  } else if (text.substr(0, 2) == "./") {
    pos = 2;
  }
  for (;;) {
    Step step;
    step.name = readName(text, pos);
    if (step.name.empty() || !parsePredicate(text, pos, step)) return false;
    path.steps.push_back(std::move(step));
    if (pos == text.size()) return true;
    if (text[pos++] != '/') return false;
  }
}

// A parsed path bound to one tree: names resolved to indexes, predicate values gathered.
class Evaluation {
 public:
  Evaluation(const QVXmlTree& tree, const Path& path, std::vector<BoundStep>& steps)
      : tree_(tree), path_(path), steps_(steps) {
    steps_.clear();
  }

  // False when a name of the path occurs nowhere in the tree: then nothing can match.
  bool resolve();
  void selectAbsolute(const std::function<bool(std::uint32_t)>& onMatch) const;
  void selectRelative(std::uint32_t context, const std::function<bool(std::uint32_t)>& onMatch) const;

 private:
  bool matches(std::uint32_t node, std::size_t step) const;
  // Whether the ancestors of `node` (at `step`) match the steps before it.
  bool ancestorsMatch(std::uint32_t node, std::size_t step) const;
  // The text content of every element the absolute path of `names` selects.
  bool gatherValues(const std::vector<std::string_view>& names, ValueSet& values) const;

  const QVXmlTree& tree_;
  const Path& path_;
  std::vector<BoundStep>& steps_;
};

bool Evaluation::resolve() {
  for (const Step& step : path_.steps) {
    BoundStep bound{tree_.findName(step.name), kQVXmlNoNode, nullptr};
    if (bound.name == kQVXmlNoNode) return false;
    if (!step.attribute.empty()) {
      bound.attribute = tree_.findName(step.attribute);
      if (bound.attribute == kQVXmlNoNode) return false;
      bound.values = std::make_unique<ValueSet>();
      if (!gatherValues(step.valuePath, *bound.values)) return false;
    }
    steps_.push_back(std::move(bound));
  }
  return true;
}

bool Evaluation::gatherValues(const std::vector<std::string_view>& names, ValueSet& values) const {
  Path valuePath;
  valuePath.absolute = true;
  for (std::string_view name : names) valuePath.steps.push_back(Step{name, {}, {}});
  std::vector<BoundStep> steps;
  Evaluation evaluation(tree_, valuePath, steps);
  if (!evaluation.resolve()) return false;
  evaluation.selectAbsolute([&](std::uint32_t node) {
    values.insert(tree_.textOf(tree_.nodes[node]));
    return true;
  });
  return !values.empty();
}

bool Evaluation::matches(std::uint32_t node, std::size_t step) const {
  const BoundStep& bound = steps_[step];
  if (!tree_.isPlainElement(node, bound.name)) return false;
  if (bound.attribute == kQVXmlNoNode) return true;
  const QVXmlTreeNode& element = tree_.nodes[node];
  const std::uint32_t end = tree_.attributesEnd(node);
  for (std::uint32_t i = element.firstAttribute; i < end; ++i) {
    const QVXmlTreeAttribute& attribute = tree_.attributes[i];
    if (attribute.name == bound.attribute) {
      return bound.values->count(tree_.valueOf(attribute.valueBegin, attribute.valueEnd)) != 0;
    }
  }
  return false;
}

bool Evaluation::ancestorsMatch(std::uint32_t node, std::size_t step) const {
  while (step > 0) {
    node = tree_.nodes[node].parent;
    if (node == kQVXmlNoNode || !matches(node, --step)) return false;
  }
  return true;
}

// Nodes are stored in document order: one pass over the array, each candidate checked upwards.
void Evaluation::selectAbsolute(const std::function<bool(std::uint32_t)>& onMatch) const {
  const std::size_t last = steps_.size() - 1;
  for (std::uint32_t node = 0; node < tree_.nodes.size(); ++node) {
    if (matches(node, last) && ancestorsMatch(node, last) && !onMatch(node)) return;
  }
}

// A walk in document order below `context` that enters only elements matching the step of their
// level and goes no deeper than the last step.
void Evaluation::selectRelative(std::uint32_t context, const std::function<bool(std::uint32_t)>& onMatch) const {
  std::uint32_t node = tree_.nodes[context].firstChild;
  std::size_t level = 0;  // the step `node` is matched against
  while (node != kQVXmlNoNode) {
    const QVXmlTreeNode& current = tree_.nodes[node];
    if (matches(node, level)) {
      if (level + 1 == steps_.size()) {
        if (!onMatch(node)) return;
      } else if (current.firstChild != kQVXmlNoNode) {
        node = current.firstChild;
        ++level;
        continue;
      }
    }
    while (tree_.nodes[node].nextSibling == kQVXmlNoNode) {
      if (level == 0) return;
      node = tree_.nodes[node].parent;
      --level;
    }
    node = tree_.nodes[node].nextSibling;
  }
}

}  // namespace

bool QVIsPlainXmlName(std::string_view text) {
  std::size_t pos = 0;
  return !readName(text, pos).empty() && pos == text.size();
}

namespace {

bool select(const QVXmlTree& tree, std::uint32_t context, std::string_view path,
            const std::function<bool(std::uint32_t)>& onMatch, Scratch& scratch) {
  scratch.path.absolute = false;
  scratch.path.steps.clear();
  if (!parsePath(path, scratch.path)) return false;
  Evaluation evaluation(tree, scratch.path, scratch.steps);
  if (!evaluation.resolve()) return true;
  if (scratch.path.absolute) {
    evaluation.selectAbsolute(onMatch);
  } else {
    evaluation.selectRelative(context, onMatch);
  }
  return true;
}

}  // namespace

bool QVSelectXmlNodes(const QVXmlTree& tree, std::uint32_t context, std::string_view path,
                      const std::function<bool(std::uint32_t)>& onMatch) {
  thread_local Scratch threadScratch;
  if (threadScratch.inUse) {
    Scratch fresh;
    return select(tree, context, path, onMatch, fresh);
  }
  threadScratch.inUse = true;
  struct Release {
    Scratch& scratch;
    ~Release() { scratch.inUse = false; }
  } release{threadScratch};
  return select(tree, context, path, onMatch, threadScratch);
}
