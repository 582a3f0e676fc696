#pragma once
// The one place where a job's failure is caught and shown.

#include <functional>

class MessageBoxes;

// Runs job; a failure ends it: 32755 (a cancelled dialog or job) silently, anything else as
// "<number>: <description>" in a critical box titled "Errore".
void runJob(MessageBoxes &messages, const std::function<void()> &job);
