#include "QVDefinitionVocabulary.h"

#include "QVDefinitionReport.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <string_view>
#include <cstdint>
#include <utility>

namespace {

// What an element holds.
enum class Content {
  Elements,     // the listed child elements
  Text,         // text only (a name, a number, a word)
  Nothing,      // nothing: its presence alone counts
  Actions,      // action elements, all read in order (DynamicScheduling)
  FirstAction,  // its first child is the action (RunUntilComplete)
};

struct Rule {
  Rule(Content content, std::vector<std::string> children, std::vector<std::string> firstOf, std::string repeatable)
      : content(content),
        children(std::move(children)),
        firstOf(std::move(firstOf)),
        repeatable(std::move(repeatable)) {}

  Content content;
  std::vector<std::string> children;  // Elements: the children read
  // Children of which only the first present in this order is read.
  std::vector<std::string> firstOf;
  // A child that may come more than once, every one read.
  std::string repeatable;

  // The same by the children's rules, filled once the table is made, for the check's comparisons.
  std::vector<const struct Rule*> childRules;
  std::vector<const struct Rule*> firstOfRules;
  const struct Rule* repeatableRule = nullptr;
  bool action = false;  // its element is an action
};

using RuleTable = std::map<std::string, Rule, std::less<>>;

RuleTable makeRules() {
  RuleTable table = {
      {"Manual", {Content::Elements, {"SchedulerType", "Global", "Groups"}, {}, ""}},
      {"Global", {Content::Elements, {"Scheduling"}, {}, ""}},
      {"Groups", {Content::Elements, {"InitAllBeforeStart", "GroupScheduler"}, {}, "GroupScheduler"}},
      {"GroupScheduler", {Content::Elements, {"GroupName", "StartupMode", "Scheduling"}, {}, ""}},
      {"StartupMode",
       {Content::Elements,
        {"StartAtScenarioBegining", "StartIntervalAfterScenarioBeginning", "StartAfterGroup"},
        {"StartAtScenarioBegining", "StartIntervalAfterScenarioBeginning", "StartAfterGroup"},
        ""}},
      {"Scheduling",
       {Content::Elements,
        {"Initialization", "RunUntilComplete", "DynamicScheduling"},
        {"RunUntilComplete", "DynamicScheduling"},
        ""}},
      {"Initialization",
       {Content::Elements, {"InitAll", "RampInitAll", "DelayAfterInitialization"}, {"InitAll", "RampInitAll"}, ""}},
      {"RampInitAll", {Content::Elements, {"Batch"}, {}, ""}},
      {"Batch", {Content::Elements, {"Count", "Interval"}, {}, ""}},
      {"DynamicScheduling", {Content::Actions, {}, {}, ""}},
      {"RunUntilComplete", {Content::FirstAction, {}, {}, ""}},
      {"Run", {Content::Elements, {"TotalVusersNumber"}, {}, ""}},
      {"Stop", {Content::Elements, {"TotalVusersNumber"}, {}, ""}},
      {"RampUp", {Content::Elements, {"Batch", "TotalVusersNumber"}, {}, ""}},
      {"RampDown", {Content::Elements, {"Batch", "TotalVusersNumber"}, {}, ""}},
      {"RampUpAll", {Content::Elements, {"Batch"}, {}, ""}},
      {"RampDownAll", {Content::Elements, {"Batch"}, {}, ""}},
      {"Duration", {Content::Elements, {"RunFor"}, {}, ""}},
      {"RunAll", {Content::Nothing, {}, {}, ""}},
      {"StopAll", {Content::Nothing, {}, {}, ""}},
      {"RunIndefinitely", {Content::Nothing, {}, {}, ""}},
      {"InitAll", {Content::Nothing, {}, {}, ""}},
      {"StartAtScenarioBegining", {Content::Nothing, {}, {}, ""}},
      {"SchedulerType", {Content::Text, {}, {}, ""}},
      {"InitAllBeforeStart", {Content::Text, {}, {}, ""}},
      {"GroupName", {Content::Text, {}, {}, ""}},
      {"StartIntervalAfterScenarioBeginning", {Content::Text, {}, {}, ""}},
      {"StartAfterGroup", {Content::Text, {}, {}, ""}},
      {"DelayAfterInitialization", {Content::Text, {}, {}, ""}},
      {"Count", {Content::Text, {}, {}, ""}},
      {"Interval", {Content::Text, {}, {}, ""}},
      {"TotalVusersNumber", {Content::Text, {}, {}, ""}},
      {"RunFor", {Content::Text, {}, {}, ""}},
  };
  const auto ruleOfName = [&table](const std::string& name) { return &table.at(name); };
  for (auto& entry : table) {
    Rule& rule = entry.second;
    for (const std::string& child : rule.children) rule.childRules.push_back(ruleOfName(child));
    for (const std::string& child : rule.firstOf) rule.firstOfRules.push_back(ruleOfName(child));
    if (!rule.repeatable.empty()) rule.repeatableRule = ruleOfName(rule.repeatable);
    rule.action = std::find(QVActionNames().begin(), QVActionNames().end(), entry.first) != QVActionNames().end();
  }
  return table;
}

const RuleTable& rules() {
  static const RuleTable table = makeRules();
  return table;
}

const Rule* ruleOf(std::string_view name) {
  const auto found = rules().find(name);
  return found == rules().end() ? nullptr : &found->second;
}

// The position of `rule` in `rules`, or rules.size().
std::size_t indexOf(const std::vector<const Rule*>& rules, const Rule* rule) {
  std::size_t i = 0;
  while (i < rules.size() && rules[i] != rule) ++i;
  return i;
}

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// The edit distance of `a` and `b` ignoring case, or more than `limit` when it exceeds it.
std::size_t distance(const std::string& a, const std::string& b, std::size_t limit) {
  if ((a.size() > b.size() ? a.size() - b.size() : b.size() - a.size()) > limit) return limit + 1;
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    std::size_t best = row[0];
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1)});
      diagonal = above;
      best = std::min(best, row[j]);
    }
    if (best > limit) return limit + 1;
  }
  return row[b.size()];
}

std::string didYouMean(const std::string& found, const std::vector<std::string>& names) {
  const std::string near = QVNearestName(found, names);
  return near.empty() ? std::string() : "; did you mean " + near + "?";
}

void warnUnknown(const QVXmlNode& child, const std::string& name, const std::string& parent, const Rule& rule) {
  if (!QVDefinitionWarningKept()) return;  // the suggestion costs work
  if (rule.content == Content::Text || rule.content == Content::Nothing) {
    QVDefinitionWarning(child, "element " + name + " inside " + parent + " is not part of the format", "",
                        rule.content == Content::Text ? parent + " holds text only" : parent + " is an empty element");
    return;
  }
  const std::string what = ruleOf(name) ? name + " is not read in " + parent : "unknown element " + name + " in " +
                                                                                   parent + " is not read";
  QVDefinitionWarning(child, what, "",
                      parent + " holds " + QVListOfNames(rule.children) + didYouMean(name, rule.children));
}

// The rules have at most this many children.
constexpr std::size_t kMaxChildren = 8;

// The rule of each name of one document, looked up once per name: a document's names are
// interned, so the address of a name's text tells it.
class RuleCache {
 public:
  const Rule* operator()(std::string_view name) {
    // Open addressing over a few slots; a definition has few distinct names, more than the
    // slots only in a document made to have them, which then just looks them up each time.
    std::size_t slot = (reinterpret_cast<std::uintptr_t>(name.data()) >> 3) % kSlots;
    for (std::size_t probe = 0; probe < kSlots; ++probe, slot = (slot + 1) % kSlots) {
      Slot& entry = slots_[slot];
      if (entry.key == name.data()) return entry.rule;
      if (entry.key == nullptr) {
        entry = Slot{name.data(), ruleOf(name)};
        return entry.rule;
      }
    }
    return ruleOf(name);
  }

 private:
  static constexpr std::size_t kSlots = 128;
  struct Slot {
    const char* key = nullptr;
    const Rule* rule = nullptr;
  };
  Slot slots_[kSlots];
};

// An element whose children are being checked: its rule and what its children tell so far.
struct Frame {
  std::string_view name;
  const Rule* rule = nullptr;
  bool seen[kMaxChildren] = {};
  const Rule* firstPresent = nullptr;  // the alternative (firstOf) read, when there is one
  bool bodies = false;                 // Manual whose SchedulerType names Global or Groups
  bool firstNodeSeen = false;          // its first child node went by (RunUntilComplete)
};

// The check of one definition: a walk in document order with one handle moved from node to node
// (no handle is copied per node) and a frame per level, since it visits every element.
class VocabularyCheck {
 public:
  explicit VocabularyCheck(const std::string& type) : type_(type) { frames_.reserve(16); }
  void run(const QVXmlNode& manual);

 private:
  void enter(const QVXmlNode& element, const Rule* rule);
  // Warns about a child that is not read; true when it is read and its own children are checked.
  bool isRead(Frame& frame, const QVXmlNode& child, const Rule* childRule);
  bool isReadElement(Frame& frame, const QVXmlNode& child, const Rule* childRule);

  const std::string& type_;
  RuleCache rules_;
  std::vector<Frame> frames_;
};

void VocabularyCheck::run(const QVXmlNode& manual) {
  QVXmlNode cursor = manual;
  enter(cursor, rules_(cursor.nodeNameView()));
  if (!cursor.toFirstChild()) return;
  for (;;) {
    const Rule* rule = cursor.isElement() ? rules_(cursor.nodeNameView()) : nullptr;
    if (isRead(frames_.back(), cursor, rule)) {
      enter(cursor, rule);
      if (cursor.toFirstChild()) continue;
      frames_.pop_back();
    }
    while (!cursor.toNextSibling()) {
      cursor.toParent();
      frames_.pop_back();
      if (frames_.empty()) return;  // back at Manual
    }
  }
}

void VocabularyCheck::enter(const QVXmlNode& element, const Rule* rule) {
  Frame frame;
  frame.name = element.nodeNameView();
  frame.rule = rule;
  if (rule && !rule->firstOfRules.empty()) {
    bool present[kMaxChildren] = {};
    QVXmlNode child = element;
    for (bool more = child.toFirstChild(); more; more = child.toNextSibling()) {
      if (!child.isElement()) continue;
      const std::size_t i = indexOf(rule->childRules, rules_(child.nodeNameView()));
      if (i < rule->childRules.size()) present[i] = true;
    }
    for (const Rule* alternative : rule->firstOfRules) {
      if (!frame.firstPresent && present[indexOf(rule->childRules, alternative)]) frame.firstPresent = alternative;
    }
  }
  static const Rule* const manual = ruleOf("Manual");
  frame.bodies = rule == manual && (type_ == "Global" || type_ == "Groups");
  frames_.push_back(frame);
}

bool VocabularyCheck::isRead(Frame& frame, const QVXmlNode& child, const Rule* childRule) {
  const bool first = !frame.firstNodeSeen;
  frame.firstNodeSeen = true;
  if (!frame.rule || !child.isElement()) return false;
  switch (frame.rule->content) {
    case Content::Elements:
      return isReadElement(frame, child, childRule);
    case Content::Actions:
      return childRule && childRule->action;
    case Content::FirstAction:
      if (!first) {
        QVDefinitionWarning(child, "only the first child of RunUntilComplete is read: " + child.nodeName() + " is not");
      }
      return first && childRule && childRule->action;
    case Content::Text:
    case Content::Nothing:
      warnUnknown(child, child.nodeName(), std::string(frame.name), *frame.rule);
      return false;
  }
  return false;
}

bool VocabularyCheck::isReadElement(Frame& frame, const QVXmlNode& child, const Rule* childRule) {
  static const Rule* const global = ruleOf("Global");
  static const Rule* const groups = ruleOf("Groups");
  const Rule& rule = *frame.rule;
  const std::size_t i = indexOf(rule.childRules, childRule);
  if (i == rule.childRules.size()) {
    warnUnknown(child, child.nodeName(), std::string(frame.name), rule);
    return false;
  }
  const auto parent = [&frame] { return std::string(frame.name); };
  const bool again = frame.seen[i];
  frame.seen[i] = true;
  if (again && childRule != rule.repeatableRule) {
    QVDefinitionWarning(child, "a second " + child.nodeName() + " in " + parent() + " is not read: only the first is");
    return false;
  }
  if (indexOf(rule.firstOfRules, childRule) < rule.firstOfRules.size() && childRule != frame.firstPresent) {
    const std::string taken = rule.firstOf[indexOf(rule.firstOfRules, frame.firstPresent)];
    QVDefinitionWarning(child, child.nodeName() + " in " + parent() + " is not read: " + taken + " is taken first", "",
                        QVListOfNames(rule.firstOf) + " (the first present is read)");
    return false;
  }
  if (frame.bodies && (childRule == global || childRule == groups) && child.nodeNameView() != type_) {
    QVDefinitionWarning(child, child.nodeName() + " is not read: SchedulerType is " + type_);
    return false;
  }
  return true;
}

}  // namespace

const std::vector<std::string>& QVActionNames() {
  static const std::vector<std::string> names = {"Run",     "RunAll",   "RampUp",      "RampUpAll", "Stop",
                                                 "StopAll", "RampDown", "RampDownAll", "Duration",  "RunIndefinitely"};
  return names;
}

std::string QVNearestName(const std::string& found, const std::vector<std::string>& names) {
  std::string best;
  std::size_t bestDistance = 0;
  for (const std::string& name : names) {
    const std::size_t limit = std::max<std::size_t>(1, std::min<std::size_t>(3, name.size() / 5));
    const std::size_t d = distance(found, name, limit);
    if (d <= limit && (best.empty() || d < bestDistance) && found != name) {
      best = name;
      bestDistance = d;
    }
  }
  return best;
}

std::string QVListOfNames(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
    text += names[i];
  }
  return text;
}

std::string QVExpectedChild(const QVXmlNode& parent, const std::vector<std::string>& wanted,
                            const std::string& detail) {
  const std::string text = QVListOfNames(wanted) + " in " + parent.nodeName() + detail;
  for (QVXmlNode child = parent.firstChild(); child; child = child.nextSibling()) {
    if (!child.isElement()) continue;
    const std::string name = child.nodeName();
    const std::string near = QVNearestName(name, wanted);
    if (!near.empty()) return text + "; did you mean " + near + " for " + name + "?";
  }
  return text;
}

void QVCheckDefinitionVocabulary(const QVXmlNode& manual, const std::string& type) {
  VocabularyCheck(type).run(manual);
}
