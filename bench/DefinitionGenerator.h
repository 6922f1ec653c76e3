// Generated scheduler definitions for the scale benchmarks: `groups` vuser groups, each with a
// ramped initialization, a ramp up, a duration and a stop; every odd group starts after the group
// before it, the others with the scenario.
#pragma once

#include <string>

namespace qvbench {

inline std::string generateGroupsDefinition(int groups) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<LoadTest><Schedulers><CurrentSchedulerId>1</CurrentSchedulerId>"
      "</Schedulers><Scheduler ID=\"1\"><Manual><SchedulerType>Groups</SchedulerType><Groups>"
      "<InitAllBeforeStart>false</InitAllBeforeStart>\n";
  xml.reserve(static_cast<std::size_t>(groups) * 560 + 512);
  for (int i = 0; i < groups; ++i) {
    const std::string name = "group" + std::to_string(i);
    xml += "<GroupScheduler><GroupName>" + name + "</GroupName><StartupMode>";
    if (i % 2) {
      xml += "<StartAfterGroup>group" + std::to_string(i - 1) + "</StartAfterGroup>";
    } else {
      xml += "<StartAtScenarioBegining/>";
    }
    xml +=
        "</StartupMode><Scheduling><Initialization><RampInitAll><Batch><Count>5</Count><Interval>10</Interval>"
        "</Batch></RampInitAll></Initialization><DynamicScheduling><RampUpAll><Batch><Count>2</Count>"
        "<Interval>15</Interval></Batch></RampUpAll><Duration><RunFor>300</RunFor></Duration><StopAll/>"
        "</DynamicScheduling></Scheduling></GroupScheduler>\n";
  }
  xml += "</Groups></Manual></Scheduler></LoadTest>\n";
  return xml;
}

}  // namespace qvbench
