#include <signal.h>

#include <cstdio>

#include "platform/console.h"
#include "platform/text.h"

namespace plat {

namespace {

void (*g_interruptHandler)() = nullptr;

extern "C" void OnSigint(int) {
    if (g_interruptHandler != nullptr) {
        g_interruptHandler();
    }
}

}  // namespace

void WriteLine(Stream stream, std::wstring_view text) {
    std::FILE* file = stream == Stream::Out ? stdout : stderr;
    std::string bytes = ToUtf8(text);
    bytes.push_back('\n');
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fflush(file);
}

void OnInterrupt(void (*handler)()) {
    g_interruptHandler = handler;
    struct sigaction action {};
    action.sa_handler = &OnSigint;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a wait in progress ends at once
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace plat
