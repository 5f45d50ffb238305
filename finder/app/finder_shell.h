// What the finder's start-up needs of the platform: the few system calls of
// CTobrelApp::StartInstance, behind one interface so that the order of the
// steps is plain logic (and tested without Windows).
#pragma once

#include <string>

// Message-box types and results, with the Windows values.
inline constexpr unsigned kMbOk = 0x00;
inline constexpr unsigned kMbYesNo = 0x04;
inline constexpr unsigned kMbIconQuestion = 0x20;
inline constexpr int kIdYes = 6;

class IFinderShell {
  public:
    virtual ~IFinderShell() = default;

    // Registers the common control window classes.
    virtual void InitCommonControls() = 0;
    // Starts Windows Sockets for the device search; false on failure.
    virtual bool StartSockets() = 0;
    // A string resource of the finder.
    virtual std::wstring LoadText(unsigned id) = 0;
    // A message box titled with the application's name; the button pressed.
    virtual int ShowMessageBox(const std::wstring& text, unsigned type) = 0;
    // Starts a program from a complete command line, without waiting for it
    // and without keeping any handle; true when the process was created.
    virtual bool StartProcess(const std::wstring& commandLine) = 0;
    // Looks for a top-level window whose whole title is title; when there is
    // one, puts it in front, shows it, and returns true.
    virtual bool RaiseWindowByTitle(const std::wstring& title) = 0;
    // Runs the main dialog modally until it is closed.
    virtual void RunMainDialog() = 0;
};
