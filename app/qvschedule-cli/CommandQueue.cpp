#include "CommandQueue.h"

#include <algorithm>

namespace {

const char* keyOrigin(ConsoleInput::Command command) {
  switch (command) {
    case ConsoleInput::Command::Pause: return "p";
    case ConsoleInput::Command::Resume: return "r";
    case ConsoleInput::Command::Stop: return "s";
    case ConsoleInput::Command::Interrupt: return "interrupted";
    case ConsoleInput::Command::Terminate: return "terminated";
  }
  return "?";
}

// A stop posted by a key or a signal (the API's calls are answered instead).
bool isPostedStop(const CommandQueue::Request& request) {
  return request.id == 0 && request.command != ConsoleInput::Command::Pause &&
         request.command != ConsoleInput::Command::Resume;
}

}  // namespace

void CommandQueue::push(Request request) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) {
      stopLeftOver_ = stopLeftOver_ || isPostedStop(request);
      return;
    }
    queue_.push_back(std::move(request));
  }
  event_->set();
}

void CommandQueue::post(Command command) { push(Request{command, keyOrigin(command), 0}); }

CommandQueue::Answer CommandQueue::call(Command command, std::chrono::milliseconds timeout) {
  std::uint64_t id = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return Answer{Outcome::Over, closedReason_};
    id = nextId_++;
    answers_[id];  // waiting
  }
  push(Request{command, "api", id});
  std::unique_lock<std::mutex> lock(mutex_);
  answered_.wait_for(lock, timeout, [&] { return closed_ || answers_[id].has_value(); });
  Answer answer{Outcome::TimedOut, "the run did not answer in time"};
  if (answers_[id]) {
    answer = std::move(*answers_[id]);
  } else if (closed_) {
    answer = Answer{Outcome::Over, closedReason_};
  }
  answers_.erase(id);
  return answer;
}

std::optional<CommandQueue::Request> CommandQueue::take() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queue_.empty()) return std::nullopt;
  Request oldest = std::move(queue_.front());
  queue_.pop_front();
  return oldest;
}

void CommandQueue::answer(std::uint64_t id, Answer answer) {
  if (id == 0) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto waiting = answers_.find(id);
    if (waiting == answers_.end()) return;  // the caller gave up
    waiting->second = std::move(answer);
  }
  answered_.notify_all();
}

void CommandQueue::close(const std::string& reason) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    closedReason_ = reason;
    stopLeftOver_ = stopLeftOver_ || std::any_of(queue_.begin(), queue_.end(), isPostedStop);
    queue_.clear();
  }
  answered_.notify_all();
}

bool CommandQueue::stopLeftOver() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopLeftOver_;
}
