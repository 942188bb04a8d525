#include "core/commands/command_slot.h"

#include "core/scan/scanning.h"

namespace kestrum {

CommandSlot::CommandSlot(std::shared_ptr<WindowQueue> queue)
    : queue_(std::move(queue)), alive_(std::make_shared<CommandSlot*>(this)) {}

CommandSlot::~CommandSlot() {
  if (busy_) Stop();
  Join();
  alive_.reset();
}

bool CommandSlot::Acquire() {
  if (busy_) return false;
  busy_ = true;
  return true;
}

void CommandSlot::Release() {
  busy_ = false;
  Progress = nullptr;
}

void CommandSlot::Run(std::function<void()> work) {
  Join();
  worker_ = std::thread(std::move(work));
}

void CommandSlot::Join() {
  if (worker_.joinable()) worker_.join();
}

void CommandSlot::Stop() { Scanning = false; }

bool CommandSlot::StopRequested() { return !Scanning; }

void CommandSlot::Post(std::function<void()> task) {
  std::weak_ptr<CommandSlot*> token = alive_;
  queue_->Post([token, task = std::move(task)] {
    if (token.lock()) task();
  });
}

}  // namespace kestrum
