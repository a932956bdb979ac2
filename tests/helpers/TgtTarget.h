// A private tgt iSCSI target with one tape LUN (scripts/tgt-target.sh) for
// the tests that run against the independent peer. It is stopped, and its
// tape image removed, when the object goes away, whatever the test did.
#ifndef TAPEDIAG_TEST_TGTTARGET_H
#define TAPEDIAG_TEST_TGTTARGET_H

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "ChildProcess.h"

class TgtTarget {
public:
    // Starts a target, with CHAP when a user is given.
    explicit TgtTarget(const std::string& user = "", const std::string& password = "")
    {
        char pattern[] = "/dev/shm/tapediag-tgt-XXXXXX";
        char fallback[] = "/tmp/tapediag-tgt-XXXXXX";
        const char* state = mkdtemp(pattern);
        if (state == nullptr)
            state = mkdtemp(fallback);
        if (state == nullptr) {
            m_why = "no directory for the target's state";
            return;
        }
        m_state = state;
        // The target goes with this process, should the test end without
        // stopping it.
        std::vector<std::string> args = {"TGT_TARGET_OWNER=" + std::to_string(getpid()), Script(), "start", m_state};
        if (!user.empty()) {
            args.push_back(user);
            args.push_back(password);
        }
        ChildProcess script("/usr/bin/env", args);
        const int status = script.Finish(60000);
        m_url = script.Output();
        while (!m_url.empty() && (m_url.back() == '\n' || m_url.back() == '\r'))
            m_url.pop_back();
        m_why = script.Errors();
        if (status != 0)
            m_url.clear();
    }
    ~TgtTarget()
    {
        if (m_state.empty())
            return;
        Stop();
        ChildProcess("/bin/rm", {"-rf", m_state}).Finish(10000);
    }
    TgtTarget(const TgtTarget&) = delete;
    TgtTarget& operator=(const TgtTarget&) = delete;

    bool Started() const { return !m_url.empty(); }
    // Why it did not start (the script's one line).
    const std::string& Why() const { return m_why; }
    // The tape LUN's URL, or another LUN of the same target (0 is tgt's
    // controller LUN).
    std::string Url(int lun = 1) const { return m_url.substr(0, m_url.rfind('/') + 1) + std::to_string(lun); }
    // The URL with a password put in after the user.
    std::string UrlWithPassword(const std::string& password) const
    {
        std::string url = m_url;
        const size_t at = url.find('@');
        return at == std::string::npos ? url : url.insert(at, "%" + password);
    }
    std::string Portal() const
    {
        const size_t start =
            m_url.find('@') != std::string::npos ? m_url.find('@') + 1 : std::string("iscsi://").size();
        return m_url.substr(start, m_url.find('/', start) - start);
    }
    // The target goes away at once, as a crashed or unplugged one does.
    // Kills the target at once and returns when it is gone (so its sockets
    // are closed), or after a bound.
    void Kill()
    {
        std::ifstream file(m_state + "/pid");
        pid_t pid = 0;
        if (!(file >> pid) || pid <= 0 || kill(pid, SIGKILL) != 0)
            return;
        for (int waited = 0; waited < 10000 && Running(pid); waited += 5)
            usleep(5000);
    }
    void Stop() { ChildProcess(Script(), {"stop", m_state}).Finish(60000); }
    // Closes every initiator's connection; the target stays up.
    void DropConnections() { ChildProcess(Script(), {"drop", m_state}).Finish(60000); }

private:
    // Alive and not yet a zombie.
    static bool Running(pid_t pid)
    {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        // pid, then the command name in parentheses, then the state letter.
        std::string line;
        if (!std::getline(stat, line))
            return false;
        const size_t close = line.rfind(')');
        if (close == std::string::npos || close + 2 >= line.size())
            return false;
        const char state = line[close + 2];
        return state != 'Z' && state != 'X';
    }

    static std::string Script() { return std::string(TAPEDIAG_SOURCE_DIR) + "/scripts/tgt-target.sh"; }

    std::string m_state;
    std::string m_url;
    std::string m_why;
};

// Skips the test, with the script's reason, where tgt cannot start (for
// example without root) or this build cannot reach it; in CI either fails
// the test.
#ifdef TAPEDIAG_HAVE_LIBISCSI
const char* const TGT_UNUSABLE = nullptr;
#else
const char* const TGT_UNUSABLE = "this build has no libiscsi";
#endif

#define REQUIRE_TGT(target)                                                                                            \
    do {                                                                                                               \
        if (TGT_UNUSABLE != nullptr) {                                                                                 \
            if (std::getenv("CI") != nullptr)                                                                          \
                FAIL() << "tgt must run in CI: " << TGT_UNUSABLE;                                                      \
            GTEST_SKIP() << "tgt cannot be reached: " << TGT_UNUSABLE;                                                 \
        }                                                                                                              \
        if (!(target).Started()) {                                                                                     \
            if (std::getenv("CI") != nullptr)                                                                          \
                FAIL() << "tgt must run in CI: " << (target).Why();                                                    \
            GTEST_SKIP() << "tgt cannot start here: " << (target).Why();                                               \
        }                                                                                                              \
    } while (0)

#endif
