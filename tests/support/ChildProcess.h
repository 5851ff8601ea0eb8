// Runs a program beside the test program and waits for it: CreateProcess on Windows,
// posix_spawn on Linux.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

// The path of a program built beside this one ("name" without extension).
inline std::string SiblingProgram(const std::string& name) {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string self(path, length);
    std::string dir = self.substr(0, self.find_last_of("\\/") + 1);
#ifdef _WIN32
    return dir + name + ".exe";
#else
    return dir + name;
#endif
}

// The program that registers in-process servers: the system's regsvr32 on Windows, ours on Linux.
inline std::string RegistrationTool() {
#ifdef _WIN32
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    return std::string(system) + "\\regsvr32.exe";
#else
    return SiblingProgram("zanthrop-regsvr");
#endif
}

class ChildProcess {
public:
    // Starts program with arguments; Started() tells whether it runs.
    // With outputFile, the program's standard output goes to that file (made anew).
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments, const std::string& outputFile = "") {
#ifdef _WIN32
        std::string commandLine = "\"" + program + "\"";
        for (const std::string& argument : arguments) commandLine += " \"" + argument + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        HANDLE output = INVALID_HANDLE_VALUE;
        if (!outputFile.empty()) {
            SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
            output = CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
            startup.hStdOutput = output;
            startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        }
        PROCESS_INFORMATION info{};
        if (CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, output != INVALID_HANDLE_VALUE, 0, nullptr,
                           nullptr, &startup, &info)) {
            CloseHandle(info.hThread);
            m_process = info.hProcess;
        }
        if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
#else
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (!outputFile.empty()) {
            posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
#endif
    }
    ~ChildProcess() { Wait(); }

    bool Started() const {
#ifdef _WIN32
        return m_process != nullptr;
#else
        return m_pid > 0;
#endif
    }

    // Waits for the end; the exit code, or -1 if it did not run.
    int Wait() {
#ifdef _WIN32
        if (m_process == nullptr) return m_exitCode;
        WaitForSingleObject(m_process, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(m_process, &code);
        CloseHandle(m_process);
        m_process = nullptr;
        m_exitCode = static_cast<int>(code);
#else
        if (m_pid <= 0) return m_exitCode;
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
        return m_exitCode;
    }
#ifndef _WIN32
    // Sends SIGINT, as Ctrl-C in its terminal would.
    void Interrupt() {
        if (m_pid > 0) kill(m_pid, SIGINT);
    }
#endif
    // Ends the program at once, as a crash would (nothing of it runs any more), and waits for it.
    int Kill() {
#ifdef _WIN32
        if (m_process != nullptr) TerminateProcess(m_process, 137);
#else
        if (m_pid > 0) kill(m_pid, SIGKILL);
#endif
        return Wait();
    }

private:
#ifdef _WIN32
    HANDLE m_process = nullptr;
#else
    pid_t m_pid = -1;
#endif
    int m_exitCode = -1;
};
