// For in-process dialog tests on Windows: a thread that looks for a window
// (a message box, a pop-up menu, an About box) while the test's thread sits
// in a modal loop, and acts on it once. Bounded: it gives up after 3 s.
#pragma once

#include <windows.h>

#include <atomic>
#include <thread>

namespace testsupport {

class WindowAnswerer {
  public:
    // find and act run on the answering thread; act gets the window found.
    template <class Find, class Act>
    WindowAnswerer(Find find, Act act)
        : m_thread([this, find, act] {
              for (int i = 0; i < 300 && !m_stop; ++i) {
                  if (HWND window = find()) {
                      m_found = true;
                      act(window);
                      return;
                  }
                  Sleep(10);
              }
          }) {}
    ~WindowAnswerer() { Found(); }
    WindowAnswerer(const WindowAnswerer&) = delete;
    WindowAnswerer& operator=(const WindowAnswerer&) = delete;

    // Stops looking; whether the window was found and acted on.
    bool Found() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
        return m_found;
    }

  private:
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_found{false};
    std::thread m_thread;
};

}  // namespace testsupport
