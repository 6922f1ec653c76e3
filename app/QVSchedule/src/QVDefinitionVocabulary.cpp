#include "QVDefinitionVocabulary.h"

#include "QVDefinitionReport.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

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
  Content content;
  std::vector<std::string> children;  // Elements: the children read
  // Children of which only the first present in this order is read.
  std::vector<std::string> firstOf;
  // A child that may come more than once, every one read.
  std::string repeatable;
};

const std::map<std::string, Rule>& rules() {
  static const std::map<std::string, Rule> table = {
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
  return table;
}

const Rule* ruleOf(const std::string& name) {
  const auto found = rules().find(name);
  return found == rules().end() ? nullptr : &found->second;
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
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

// The element children of `node`, in document order.
std::vector<QVXmlNode> elementChildren(const QVXmlNode& node) {
  std::vector<QVXmlNode> children;
  for (QVXmlNode child = node.firstChild(); child; child = child.nextSibling()) {
    if (child.isElement()) children.push_back(child);
  }
  return children;
}

void warnUnknown(const QVXmlNode& child, const std::string& name, const std::string& parent, const Rule& rule) {
  if (rule.content == Content::Text || rule.content == Content::Nothing) {
    QVDefinitionWarning(child, "element " + name + " inside " + parent + " is not part of the format", "",
                        rule.content == Content::Text ? parent + " holds text only" : parent + " is an empty element");
    return;
  }
  const std::string what = ruleOf(name) ? name + " is not read in " + parent : "unknown element " + name + " in " +
                                                                                   parent + " is not read";
  QVDefinitionWarning(child, what, "", parent + " holds " + QVListOfNames(rule.children) + didYouMean(name, rule.children));
}

// Checks the children of an element that holds elements; answers those to check in turn.
void checkElements(const QVXmlNode& node, const std::string& name, const Rule& rule, const std::string& type,
                   std::vector<QVXmlNode>& next) {
  const std::vector<QVXmlNode> children = elementChildren(node);
  std::set<std::string> present;
  for (const QVXmlNode& child : children) present.insert(child.nodeName());
  std::set<std::string> seen;
  for (const QVXmlNode& child : children) {
    const std::string childName = child.nodeName();
    if (!contains(rule.children, childName)) {
      warnUnknown(child, childName, name, rule);
      continue;
    }
    if (!seen.insert(childName).second && childName != rule.repeatable) {
      QVDefinitionWarning(child, "a second " + childName + " in " + name + " is not read: only the first is");
      continue;
    }
    const auto first = std::find_if(rule.firstOf.begin(), rule.firstOf.end(),
                                    [&](const std::string& alternative) { return present.count(alternative) != 0; });
    if (contains(rule.firstOf, childName) && *first != childName) {
      QVDefinitionWarning(child, childName + " in " + name + " is not read: " + *first + " is taken first", "",
                          QVListOfNames(rule.firstOf) + " (the first present is read)");
      continue;
    }
    if (name == "Manual" && (type == "Global" || type == "Groups") && (childName == "Global" || childName == "Groups") &&
        childName != type) {
      QVDefinitionWarning(child, childName + " is not read: SchedulerType is " + type);
      continue;
    }
    next.push_back(child);
  }
}

void checkActions(const QVXmlNode& node, const Rule& rule, std::vector<QVXmlNode>& next) {
  bool first = true;
  for (QVXmlNode child = node.firstChild(); child; child = child.nextSibling()) {
    const bool read = rule.content == Content::Actions || first;
    first = false;
    if (!child.isElement()) continue;
    const std::string name = child.nodeName();
    if (!read) {
      QVDefinitionWarning(child, "only the first child of RunUntilComplete is read: " + name + " is not");
    } else if (contains(QVActionNames(), name)) {
      next.push_back(child);
    }
  }
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
  for (const QVXmlNode& child : elementChildren(parent)) {
    const std::string name = child.nodeName();
    const std::string near = QVNearestName(name, wanted);
    if (!near.empty()) return text + "; did you mean " + near + " for " + name + "?";
  }
  return text;
}

void QVCheckDefinitionVocabulary(const QVXmlNode& manual, const std::string& type) {
  std::vector<QVXmlNode> pending = {manual};
  while (!pending.empty()) {
    const QVXmlNode node = pending.back();
    pending.pop_back();
    const std::string name = node.nodeName();
    const Rule* rule = ruleOf(name);
    if (!rule) continue;
    switch (rule->content) {
      case Content::Elements:
        checkElements(node, name, *rule, type, pending);
        break;
      case Content::Actions:
      case Content::FirstAction:
        checkActions(node, *rule, pending);
        break;
      case Content::Text:
      case Content::Nothing:
        for (const QVXmlNode& child : elementChildren(node)) warnUnknown(child, child.nodeName(), name, *rule);
        break;
    }
  }
}
