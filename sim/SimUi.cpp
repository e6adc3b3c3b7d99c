#include "sim/SimUi.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <limits>

namespace kestrel::sim {

SimUi::SimUi(SimClock& clock, std::vector<std::string> answers, bool interactive, bool echo)
    : clock_(clock), answers_(answers.begin(), answers.end()), interactive_(interactive), echo_(echo), gui_(std::this_thread::get_id()) {}

void SimUi::PostToGuiThread(std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> lock(postedMutex_);
        posted_.push_back(std::move(fn));
    }
    // A GUI thread waiting on the virtual clock wakes for it.
    clock_.WakeWaiters();
}

bool SimUi::RunPosted() {
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard<std::mutex> lock(postedMutex_);
        batch.swap(posted_);
    }
    for (auto& fn : batch) fn();
    return !batch.empty();
}

int64_t SimUi::NextDueNs() const {
    int64_t due = std::numeric_limits<int64_t>::max();
    for (const auto& [id, t] : timers_) due = std::min(due, t.dueNs);
    return due;
}

bool SimUi::FireDueTimers() {
    bool fired = false;
    const int64_t now = clock_.NowNs();
    // Copy the ids first: a callback may set or kill timers.
    std::vector<uint32_t> due;
    for (const auto& [id, t] : timers_)
        if (t.dueNs <= now) due.push_back(id);
    for (uint32_t id : due) {
        auto it = timers_.find(id);
        if (it == timers_.end() || it->second.dueNs > now) continue;
        it->second.dueNs = now + static_cast<int64_t>(it->second.intervalMs) * 1'000'000;
        auto cb = it->second.cb;
        cb();
        fired = true;
    }
    return fired;
}

void SimUi::ProcessMessages() {
    ShowIfChanged();
    RunPosted();
    FireDueTimers();
}

void SimUi::WaitForMessages(uint32_t timeoutMs) {
    {
        std::lock_guard<std::mutex> lock(postedMutex_);
        if (!posted_.empty()) return;
    }
    const int64_t until = std::min(clock_.NowNs() + static_cast<int64_t>(timeoutMs) * 1'000'000, NextDueNs());
    if (clock_.IsVirtual()) {
        clock_.WaitUntilNs(until, [this] {
            std::lock_guard<std::mutex> lock(postedMutex_);
            return !posted_.empty();
        });
        return;
    }
    // Real time: sleep in short slices so work posted from another thread is seen soon.
    while (clock_.NowNs() < until) {
        {
            std::lock_guard<std::mutex> lock(postedMutex_);
            if (!posted_.empty()) return;
        }
        clock_.SleepUntilNs(std::min(until, clock_.NowNs() + 2'000'000));
    }
}

bool SimUi::TakeUserAction() {
    if (userActions_.empty() || !visible_) return false;
    const std::string action = userActions_.front();
    userActions_.pop_front();
    if (echo_) std::fprintf(stderr, "[sim] the user: %s\n", action.c_str());
    bool done = false;
    if (action.rfind("click:", 0) == 0) {
        done = Click(action.substr(6));
    } else if (action.rfind("choose:", 0) == 0) {
        const std::string rest = action.substr(7);
        const size_t colon = rest.rfind(':');
        if (colon != std::string::npos) done = Choose(rest.substr(0, colon), std::atoi(rest.c_str() + colon + 1));
    }
    if (!done && echo_) std::fprintf(stderr, "[sim] (nothing happens: no such shown, enabled control or item)\n");
    return true;
}

void SimUi::RunMessageLoop() {
    while (!quit_) {
        ShowIfChanged();
        if (RunPosted() || FireDueTimers()) continue;
        if (quit_) break;
        // The user acts while the window waits for input.
        if (TakeUserAction()) continue;
        if (timers_.empty()) {
            std::lock_guard<std::mutex> lock(postedMutex_);
            if (posted_.empty()) {
                // Nothing can happen any more: the user closes the window.
                ShowIfChanged();
                if (echo_) std::fprintf(stderr, "[sim] the window is idle; the user closes it\n");
                quit_ = true;
                break;
            }
            continue;
        }
        WaitForMessages(std::numeric_limits<uint32_t>::max());
    }
}

void SimUi::SetTimer(uint32_t id, uint32_t intervalMs, std::function<void()> callback) {
    timers_[id] = Timer{intervalMs, clock_.NowNs() + static_cast<int64_t>(intervalMs) * 1'000'000, std::move(callback)};
}

void SimUi::KillTimer(uint32_t id) { timers_.erase(id); }

int SimUi::DefaultAnswer(uint32_t flags) const {
    switch (flags & 0xF) {
    case MB_OKCANCEL_FLAG: return ID_OK;
    case MB_YESNO_FLAG: return ID_YES;
    default: return ID_OK;
    }
}

int SimUi::MessageBox(const std::string& text, const std::string& title, uint32_t flags) {
    int answer = DefaultAnswer(flags);
    const bool yesNo = (flags & 0xF) == MB_YESNO_FLAG;
    const bool okCancel = (flags & 0xF) == MB_OKCANCEL_FLAG;
    auto parse = [&](std::string a) {
        std::transform(a.begin(), a.end(), a.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (a == "yes" || a == "y") return ID_YES;
        if (a == "no" || a == "n") return ID_NO;
        if (a == "cancel" || a == "c") return ID_CANCEL;
        return ID_OK;
    };
    ShowIfChanged();
    if (echo_) std::fprintf(stderr, "[sim] message box \"%s\":\n%s\n", title.c_str(), text.c_str());
    if (whileBox_ && !inWhileBox_) {
        inWhileBox_ = true;
        whileBox_();
        inWhileBox_ = false;
    }
    if (!answers_.empty()) {
        answer = parse(answers_.front());
        answers_.pop_front();
    } else if (interactive_ && (yesNo || okCancel)) {
        std::fprintf(stderr, yesNo ? "[sim] answer (yes/no): " : "[sim] answer (ok/cancel): ");
        std::string line;
        if (std::getline(std::cin, line)) answer = parse(line);
    }
    // An answer that the box has no button for is taken as its default.
    if (yesNo && answer != ID_YES && answer != ID_NO) answer = ID_YES;
    if (okCancel && answer != ID_OK && answer != ID_CANCEL) answer = ID_OK;
    if (!yesNo && !okCancel) answer = ID_OK;
    if (echo_) std::fprintf(stderr, "[sim] -> %s\n", answer == ID_YES ? "Yes" : answer == ID_NO ? "No" : answer == ID_CANCEL ? "Cancel" : "OK");
    boxes_.push_back(ShownBox{text, title, flags, answer});
    return answer;
}

void SimUi::SetMainWindowVisible(bool visible) {
    visible_ = visible;
    if (visible) everShown_ = true;
    ShowIfChanged();
}

MutexHandle SimUi::OpenNamedMutex(const std::string& name) {
    if (foreign_.count(name)) return nextMutex_++;
    for (const auto& [h, n] : own_)
        if (n == name) return nextMutex_++;
    return 0;
}

MutexHandle SimUi::CreateNamedMutex(const std::string& name) {
    const MutexHandle h = nextMutex_++;
    own_[h] = name;
    return h;
}

void SimUi::CloseMutex(MutexHandle h) { own_.erase(h); }

bool SimUi::BringOtherInstanceToFront(const std::string& /*windowClass*/, const std::string& /*title*/) {
    ++broughtToFront_;
    return true;
}

bool SimUi::ShutdownBlockReasonCreate(const std::string& reason) {
    blockCalls_.push_back("+" + reason);
    // Windows refuses an empty reason.
    if (reason.empty()) return false;
    blockReason_ = reason;
    return true;
}

bool SimUi::ShutdownBlockReasonDestroy() {
    blockCalls_.push_back("-");
    // Windows answers false when the window has no reason set.
    if (blockReason_.empty()) return false;
    blockReason_.clear();
    return true;
}

}  // namespace kestrel::sim
