#include "CommandQueue.h"

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

}  // namespace

void CommandQueue::push(Request request) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
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

std::vector<CommandQueue::Request> CommandQueue::take() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Request> taken(queue_.begin(), queue_.end());
  queue_.clear();
  return taken;
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
    queue_.clear();
  }
  answered_.notify_all();
}
