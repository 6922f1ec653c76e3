// Callback interface of everything that waits for a time. Called on the timer thread with the
// scheduler lock held and the timer lock free. Handlers are owned by whoever registers them.
#pragma once

class CQVTimeHandler {
 public:
  virtual void onTime() = 0;

 protected:
  ~CQVTimeHandler() = default;
};
