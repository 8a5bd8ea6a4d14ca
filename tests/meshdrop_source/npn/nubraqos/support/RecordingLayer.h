#pragma once
// A protocol layer for tests that records what the context tells it. Register
// it with RecordingLayer::RegisterClass() and push it with
// AddLayer(RecordingLayer::kClassId, ...). Read its record on the worker.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "nw/nwCApplicationStack.h"

// The layer interface of the recording layer (its "own" second view).
class ovIRecordingLayer : public ovIUnknown {};

class RecordingLayer : public nwTApplicationLayer<ovIRecordingLayer> {
public:
    static constexpr std::uint32_t kClassId = 0x7E01;
    // Registers the class with the factory (once per process).
    static void RegisterClass();

    enum class Consume { All, Nothing, Fail, PassUp, Frames };

    RecordingLayer() { RegisterHandlers(); }

    bool OnConnected() override;
    bool OnUnreachable() override;
    int OnReceive(const std::uint8_t* data, std::uint32_t length) override;
    void OnClose() override;
    bool OnConnectFailed() override;
    bool OnSendQueueEmpty() override;
    bool OnIdleTimeout() override;
    bool OnEvent(std::uint32_t event, std::uint32_t value) override;
    void RegisterHandlers() override {}

    // How OnReceive answers (Frames: through the embedded dispatcher).
    Consume consume = Consume::All;
    // Answer of OnConnected.
    bool passConnected = true;

    std::string received;
    std::vector<std::string> frames;
    std::vector<std::uint32_t> events;
    int connected = 0;
    int unreachable = 0;
    int closed = 0;
    int connectFailed = 0;
    int idleTimeouts = 0;
    int queueEmpty = 0;
    // Called from OnClose, after counting it.
    std::function<void()> onClose;
    // Order in which layers saw OnConnected / OnReceive, shared by a test.
    std::vector<const RecordingLayer*>* order = nullptr;
};
