#pragma once
// The daily notifying check as a task of the Task Scheduler, for the current user only.

#include <string>

namespace fw {

// The task's name: one per user, so that users of one computer keep their own.
std::string DailyTaskName();

// Registers the task (daily, after a random delay of up to four hours, only when a network is
// available, made up when a start was missed) that runs this program with `arguments`, or
// removes it. False with `error` when the Task Scheduler refused.
bool RegisterDailyTask(const std::string& arguments, std::string& error);
bool RemoveDailyTask(std::string& error);

}  // namespace fw
