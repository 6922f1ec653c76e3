// The element names of the definition format, which elements each one holds, and the warnings
// for elements the reader does not read: unknown ones (with a suggestion for a near name, such as
// StartAtScenarioBegining for StartAtScenarioBeginning), repeated ones of which only the first is
// read, alternatives of which only the first present is read, and the body that SchedulerType
// does not name. Also the words of the builders' errors for a missing element.
//
// Stateless; the rules are constant tables. The check walks the definition without recursion.
#pragma once

#include "QVXmlDom.h"

#include <string>
#include <vector>

// Warns (QVDefinitionWarning) about every element under `manual` that the reader does not read.
// `type` is the SchedulerType text. The children of DynamicScheduling and the first child of
// RunUntilComplete are actions: an unknown one refuses the definition and is the builder's to
// report; the children of known actions are checked.
void QVCheckDefinitionVocabulary(const QVXmlNode& manual, const std::string& type);

// The name of `names` nearest to `found` (the same but for case, or a letter or two apart), or
// empty when none is near.
std::string QVNearestName(const std::string& found, const std::vector<std::string>& names);

// "A, B or C".
std::string QVListOfNames(const std::vector<std::string>& names);

// What a builder expected to find under `parent`: one of `wanted` (a list of one for a single
// element), in words, then `detail`, then a suggestion when an element of `parent` is near one of
// them: "StartAtScenarioBegining, StartIntervalAfterScenarioBeginning or StartAfterGroup in
// StartupMode; did you mean StartAtScenarioBegining for StartAtScenarioBeginning?".
std::string QVExpectedChild(const QVXmlNode& parent, const std::vector<std::string>& wanted,
                            const std::string& detail = std::string());

// The action element names, in the order the builder compares them.
const std::vector<std::string>& QVActionNames();
