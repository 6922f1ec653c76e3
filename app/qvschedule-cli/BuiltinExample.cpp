#include "BuiltinExample.h"

const char* const kBuiltinExampleName = "built-in example (typical road)";

const char* const kBuiltinExampleXml = R"(<?xml version="1.0" encoding="utf-8"?>
<LoadTest>
  <Schedulers>
    <CurrentSchedulerId>1</CurrentSchedulerId>
  </Schedulers>
  <Scheduler ID="1">
    <Manual>
      <SchedulerType>Global</SchedulerType>
      <Global>
        <Scheduling>
          <DynamicScheduling>
            <RampUp>
              <Batch>
                <Count>3</Count>
                <Interval>15</Interval>
              </Batch>
              <TotalVusersNumber>10</TotalVusersNumber>
            </RampUp>
            <Duration>
              <RunFor>60</RunFor>
            </Duration>
            <StopAll/>
          </DynamicScheduling>
        </Scheduling>
      </Global>
    </Manual>
  </Scheduler>
</LoadTest>
)";
