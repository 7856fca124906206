// Where the link's message boxes go: its holder's window, never a toolkit.
#pragma once

#include <string>

class ILinkMessages {
public:
    virtual ~ILinkMessages() = default;
    // Warning box with the application's title; returns when the user closed it.
    virtual void ShowWarning(const std::string &text) = 0;
    // Error box with the given caption; callable from worker threads.
    virtual void ShowError(const std::string &caption, const std::string &text) = 0;
};
