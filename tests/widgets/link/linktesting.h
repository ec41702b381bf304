#pragma once
// Shared by the link component tests: a TMB opened on a pseudo-terminal the test made, and the far
// side's view of frames (encode a reply, decode a request).
#include "link/core/crc16.h"
#include "link/core/framedecoder.h"
#include "link/core/linecode.h"
#include "link/mb.h"
#include "ptypair.h"
#include "waitfor.h"

#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

inline std::vector<std::uint8_t> lineCode(std::vector<std::uint8_t> frame) {
    const std::uint16_t crc = mb::crc16(frame.data(), frame.size());
    frame.push_back(static_cast<std::uint8_t>(crc));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    std::vector<std::uint8_t> out(2 * frame.size());
    mb::encodeFrame(frame.data(), frame.size(), out.data());
    return out;
}

// The instrument's reply: address with bit 7, ID, status byte, data.
inline std::vector<std::uint8_t> reply(std::uint8_t address, std::uint8_t status,
                                       const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> f = {static_cast<std::uint8_t>(0x80 | address), 0, status};
    f.insert(f.end(), data.begin(), data.end());
    return lineCode(f);
}

// The row of the port list that opens `path`; -1 when it is not listed.
inline int rowOf(const TMB& mb, const std::string& path) {
    const auto& e = mb.MBPortEntries();
    for (std::size_t i = 0; i < e.size(); ++i)
        if (e[i].info.path == path) return static_cast<int>(i);
    return -1;
}

struct OpenLink {
    PtyPair pty;
    std::unique_ptr<TMB> mb;
    std::vector<mb::TMBStatus> ends;
    std::vector<bool> openedOrClosed;

    // Creates the component with the pty offered as an extra port and waits for its deferred set-up.
    explicit OpenLink(bool open = true) {
        ::setenv("MB_EXTRA_PORTS", pty.slavePath().c_str(), 1);
        mb = std::make_unique<TMB>();
        mb->OnMBMasterEndOfEvent = [this](mb::TMBStatus s, const std::string&) { ends.push_back(s); };
        mb->OnMBPortOpenedOrClosed = [this](bool o) { openedOrClosed.push_back(o); };
        auto* button = mb->findChild<QPushButton*>("SpeedButton_Open");
        [&] { ASSERT_WAIT(button->isEnabled(), 5000); }();
        if (open) mb->MBOpenPort(QString::fromStdString(pty.slavePath()));
    }
    ~OpenLink() {
        mb.reset();
        ::unsetenv("MB_EXTRA_PORTS");
    }
    template <typename T> T* child(const char* name) const { return mb->findChild<T*>(name); }
};
