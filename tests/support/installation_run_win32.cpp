// Running the program on Windows: CreateProcess with the installation's
// environment, standard input from NUL and the output to "program.out".
// Windows installations load their record manager as a DLL: the program is
// given the project's own, "nubodb.dll", found in the program's folder.
#include "tests/support/installation.h"

#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace e2e {
namespace {

// The calling process's environment with JOBROOT, JOBTMP and
// NUBO_BTRIEVE_DLL replaced, as a Windows environment block.
std::vector<char> environmentBlock(const std::string& root, const std::string& work) {
    std::vector<char> block;
    const auto add = [&block](const std::string& entry) {
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back('\0');
    };
    if (char* current = ::GetEnvironmentStringsA()) {
        for (const char* p = current; *p != '\0'; p += std::strlen(p) + 1) {
            const std::string entry(p);
            const std::string name = entry.substr(0, entry.find('=', 1));
            if (_stricmp(name.c_str(), "JOBROOT") == 0 || _stricmp(name.c_str(), "JOBTMP") == 0 ||
                _stricmp(name.c_str(), "NUBO_BTRIEVE_DLL") == 0)
                continue;
            add(entry);
        }
        ::FreeEnvironmentStringsA(current);
    }
    add("JOBROOT=" + root);
    add("JOBTMP=" + work);
    add("NUBO_BTRIEVE_DLL=nubodb.dll");
    block.push_back('\0');
    return block;
}

}  // namespace

Installation::RunResult Installation::run(const std::string& program) const {
    RunResult result;
    const auto start = std::chrono::steady_clock::now();

    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE in = ::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE out = ::CreateFileA((base_ + "program.out").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                               &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION process{};
    std::string commandLine = "\"" + program + "\"";
    std::vector<char> environment = environmentBlock(root(), work());
    const BOOL started = ::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr,
                                          TRUE, 0, environment.data(), nullptr, &startup, &process);
    if (in != INVALID_HANDLE_VALUE) ::CloseHandle(in);
    if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
    if (!started) {
        // Said on the test's output: a run that never started is told apart
        // from one that failed.
        std::fprintf(stderr, "cannot start %s: Windows error %lu\n", program.c_str(),
                     ::GetLastError());
        return result;
    }

    ::WaitForSingleObject(process.hProcess, INFINITE);
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    PROCESS_MEMORY_COUNTERS memory{};
    if (::K32GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory))
        result.peakResidentKb = static_cast<long>(memory.PeakWorkingSetSize / 1024);
    DWORD code = 0;
    if (::GetExitCodeProcess(process.hProcess, &code)) result.exitCode = static_cast<int>(code);
    if (code > 255) {
        // Not an exit code of the program's own (an exception, or the
        // loader giving up): the code and what the program printed go to
        // the test's output.
        std::ifstream printed(base_ + "program.out", std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(printed)),
                               std::istreambuf_iterator<char>());
        std::fprintf(stderr, "%s ended with 0x%08lx after printing:\n%s\n", program.c_str(), code,
                     text.c_str());
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return result;
}

}  // namespace e2e
