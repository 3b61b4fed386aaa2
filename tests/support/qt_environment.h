// The application object of the window tests, made once per test binary (offscreen), and the
// waits that let queued work and other threads' hand-overs reach the UI thread.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

namespace test_support {

// Register once per binary: the application lives from the first test to the last. `beforeEnd`
// runs before the application goes (windows that outlive a test are unloaded there).
class QtEnvironment : public ::testing::Environment {
 public:
  explicit QtEnvironment(std::function<void()> beforeEnd = {}) : beforeEnd_(std::move(beforeEnd)) {}
  void SetUp() override {
    static int argc = 1;
    static char name[] = "velmora-window-test";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
  }
  void TearDown() override {
    if (beforeEnd_) beforeEnd_();
    app_.reset();
  }

 private:
  std::function<void()> beforeEnd_;
  std::unique_ptr<QApplication> app_;
};

// Lets queued work (menu choices, deferred deletions) run.
inline void Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// Waits for a condition that another thread or process brings about; false if it never came.
template <typename Condition>
bool WaitFor(Condition condition, int seconds = 20) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace test_support
