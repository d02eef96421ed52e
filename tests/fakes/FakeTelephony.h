#pragma once
// A recording fake of the telephony port: devices with configurable capabilities and failures, a
// log of every call the monitor makes, and reports queued by the test and raised by DispatchReports.
#include "platform/ITelephony.h"

#include <deque>
#include <string>
#include <unistd.h>
#include <vector>

class TFakeTelephony : public ITelephony {
public:
    struct TDevice {
        std::uint32_t MediaModes = kLineMediaModeDataModem;
        bool NegotiateFails = false;
        bool CapsFail = false;
        bool OpenFails = false;
    };
    struct TReport {
        std::uint32_t Device = 0;
        std::uint32_t Message = kLineCallStateMessage;
        std::uintptr_t Param1 = 0;
    };

    long InitializeResult = 0;
    std::uint32_t AppHandle = 0x51;
    std::vector<TDevice> Devices;
    std::vector<std::string> Calls; // "Initialize", "Open 0", "Close 100", "Deallocate 7", "Shutdown 81", ...
    std::deque<TReport> Pending;
    // The descriptor the shell watches; a test that drives the event loop sets it to a pipe's read
    // end and writes a byte whenever it queues reports.
    int Fd = -1;

    long Initialize(std::uint32_t& lineApp, std::uint32_t& deviceCount) override {
        Calls.push_back("Initialize");
        if (InitializeResult < 0)
            return InitializeResult;
        lineApp = AppHandle;
        deviceCount = static_cast<std::uint32_t>(Devices.size());
        return 0;
    }
    long NegotiateApiVersion(std::uint32_t, std::uint32_t device, std::uint32_t low, std::uint32_t high,
                             std::uint32_t& apiVersion) override {
        Calls.push_back("Negotiate " + std::to_string(device));
        if (Devices.at(device).NegotiateFails || low > 0x20000 || high < 0x20000)
            return -1;
        apiVersion = 0x20000;
        return 0;
    }
    long GetDevCaps(std::uint32_t, std::uint32_t device, std::uint32_t apiVersion, std::uint32_t,
                    TLineDevCaps& caps) override {
        Calls.push_back("Caps " + std::to_string(device));
        if (Devices.at(device).CapsFail || apiVersion != 0x20000)
            return -2;
        caps.MediaModes = Devices.at(device).MediaModes;
        caps.LineName = "line" + std::to_string(device);
        return 0;
    }
    long Open(std::uint32_t, std::uint32_t device, std::uint32_t& line, std::uint32_t, std::uint32_t,
              std::uintptr_t, std::uint32_t privileges, std::uint32_t mediaModes) override {
        Calls.push_back("Open " + std::to_string(device) + " " + std::to_string(privileges) + " " +
                        std::to_string(mediaModes));
        if (Devices.at(device).OpenFails)
            return -3;
        line = 100 + device;
        return 0;
    }
    long Close(std::uint32_t line) override {
        Calls.push_back("Close " + std::to_string(line));
        return 0;
    }
    long DeallocateCall(std::uint32_t call) override {
        Calls.push_back("Deallocate " + std::to_string(call));
        return 0;
    }
    long Shutdown(std::uint32_t lineApp) override {
        Calls.push_back("Shutdown " + std::to_string(lineApp));
        return 0;
    }
    int EventFd() const override { return Fd; }
    void DispatchReports() override {
        char drain[64];
        if (Fd >= 0)
            while (::read(Fd, drain, sizeof(drain)) > 0) {
            }
        while (!Pending.empty()) {
            TReport r = Pending.front();
            Pending.pop_front();
            if (OnReport)
                OnReport(r.Device, r.Message, 0, r.Param1, 0, 0);
        }
    }
};
