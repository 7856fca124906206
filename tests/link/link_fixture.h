// A link wired to the recording portlink and a recording message sink.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device_link.h"
#include "fake_portlink.h"

struct RecordingMessages : ILinkMessages {
    std::vector<std::string> warnings;
    void ShowWarning(const std::string &text) override { warnings.push_back(text); }
    void ShowError(const std::string &caption, const std::string &text) override {
        warnings.push_back(caption + ": " + text);
    }
};

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        Fake().Reset();
        link = std::make_unique<CDeviceLink>(FakePortlinkApi(), &messages);
    }
    void TearDown() override { link.reset(); }

    // Bytes waiting at the port, pulled by one ReadSerial as one notification would.
    void Arrive(std::vector<uint8_t> bytes) {
        Fake().chunks.push_back(std::move(bytes));
        link->ReadSerial();
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) link->Tick();
    }
    void OpenSerial(uint8_t port) {
        link->m_nPort = port;
        link->m_nBaudRate = 115200;
        link->Open(LINK_SERIAL, &window);
    }

    PortlinkWindow window{};
    RecordingMessages messages;
    std::unique_ptr<CDeviceLink> link;
};
