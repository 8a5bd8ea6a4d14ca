#pragma once
// Drives one HTTP client layer on a real connection context over loopback,
// the way a download session does: the library worker thread runs the
// context, a recording listener keeps every notification in order.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "NpnWorker.h"
#include "cp/CNpn.h"
#include "cp/cpCHostCache.h"
#include "cp/cpCQoSContext.h"
#include "nw/nwCHttpClientExLayer.h"
#include "ov/ovClassIds.h"
#include "ov/ovSmartPtr.h"

// Records the layer's notifications; touched on the worker thread only.
class RecordingHttpListener : public nwIHttpClientExEventListener {
public:
    void OnConnected(std::uint32_t cookie) override { Note("connected", cookie); }
    void OnHeaderReceived(std::uint32_t cookie) override
    {
        Note("header", cookie);
        if (onHeader) {
            onHeader();
        }
    }
    int OnData(std::uint32_t cookie, const std::uint8_t* data, std::uint32_t length) override
    {
        Note("data", cookie);
        offered.push_back(length);
        const std::uint32_t taken = std::min(length, maxTake);
        body.append(reinterpret_cast<const char*>(data), taken);
        return static_cast<int>(taken);
    }
    void OnComplete(std::uint32_t cookie) override { Note("complete", cookie); }
    void OnSendQueueEmpty(std::uint32_t cookie) override
    {
        Note("queue-empty", cookie);
        if (onSendQueueEmpty) {
            onSendQueueEmpty();
        }
    }
    void OnClosed(std::uint32_t cookie) override { Note("closed", cookie); }
    void OnConnectTimeout(std::uint32_t cookie) override { Note("connect-timeout", cookie); }
    void OnRecvTimeout(std::uint32_t cookie) override { Note("recv-timeout", cookie); }
    void OnHostUnreach(std::uint32_t cookie) override { Note("unreach", cookie); }

    bool Saw(const std::string& event) const { return Count(event) > 0; }
    int Count(const std::string& event) const
    {
        return static_cast<int>(std::count(events.begin(), events.end(), event));
    }
    // The events with repeated "data" entries folded into one.
    std::vector<std::string> Folded() const
    {
        std::vector<std::string> folded;
        for (const std::string& event : events) {
            if (folded.empty() || folded.back() != event || event != "data") {
                folded.push_back(event);
            }
        }
        return folded;
    }

    std::uint32_t maxTake = UINT32_MAX; // bytes taken per OnData at most
    std::function<void()> onHeader;
    std::function<void()> onSendQueueEmpty;
    std::vector<std::string> events;
    std::vector<std::uint32_t> offered;
    std::string body;
    bool wrongCookie = false;

private:
    void Note(const char* event, std::uint32_t cookie)
    {
        wrongCookie = wrongCookie || cookie != kCookie;
        events.emplace_back(event);
    }

public:
    static constexpr std::uint32_t kCookie = 0x5EED;
};

class HttpLayerTest : public ::testing::Test {
    static std::mutex& LogMutex()
    {
        static std::mutex mutex;
        return mutex;
    }
    static std::vector<std::string>& LogLines()
    {
        static std::vector<std::string> lines;
        return lines;
    }
    static void CaptureLog(const char* line)
    {
        std::lock_guard lock(LogMutex());
        LogLines().emplace_back(line);
    }

protected:
    void SetUp() override { ASSERT_TRUE(worker.IsStarted()); }

    void TearDown() override
    {
        worker.Run([&] {
            if (layer) {
                layer->SetListener(nullptr, 0);
            }
            if (ctx) {
                ctx.Get<ovIQoSContext>()->Close();
            }
            layer = nullptr;
            ctx.Reset();
            cpCHostCache::GetInstance().SetResolver(nullptr);
        });
    }

    // A context opened as the sessions open it (action 1, mask 0x05), with the
    // HTTP layer on top and the recording listener set. Runs on the worker.
    void OpenOnWorker(std::uint32_t connectTimeout = 4, std::uint32_t idleTimeout = 4)
    {
        ASSERT_TRUE(ctx.CreateInstance(OVCLS_QOS_CONTEXT));
        ovIQoSContext* context = ctx.Get<ovIQoSContext>();
        ASSERT_EQ(context->Open(1, QOS_CONNECT_FAILED | QOS_IDLE_TIMEOUT, nullptr), OVR_PLATFORM_OK);
        context->SetOption(QOS_OPTION_CONNECT_TIMEOUT, &connectTimeout);
        context->SetOption(QOS_OPTION_IDLE_TIMEOUT, &idleTimeout);
        ASSERT_EQ(context->AddLayer(OVCLS_HTTP_CLIENT_LAYER, false), OVR_PLATFORM_OK);
        layer = ovAsHttpClientExLayer(context->GetTopLayer());
        ASSERT_NE(layer, nullptr);
        layer->SetListener(&listener, RecordingHttpListener::kCookie);
    }

    // Opens, sets the address and the headers, and sends the GET.
    void StartGet(const std::string& url, const std::vector<std::pair<std::string, std::string>>& headers = {},
                  std::uint32_t idleTimeout = 4)
    {
        worker.Run([&] {
            OpenOnWorker(4, idleTimeout);
            ASSERT_EQ(layer->SetURL(url.c_str()), OVR_NET_OK);
            for (const auto& [name, value] : headers) {
                ASSERT_EQ(layer->AddHeader(name.c_str(), value.c_str()), OVR_NET_OK);
            }
            ASSERT_EQ(layer->SendGET(), OVR_NET_OK);
        });
    }

    bool WaitFor(const std::string& event)
    {
        return worker.WaitUntil([&] { return listener.Saw(event); });
    }

    int State()
    {
        return worker.Call([&] {
            int state = -1;
            ctx.Get<ovIQoSContext>()->GetState(&state);
            return state;
        });
    }

    int StatusCode()
    {
        return worker.Call([&] {
            int code = -1;
            layer->GetStatusCode(&code);
            return code;
        });
    }

    std::int64_t ContentLength()
    {
        return worker.Call([&] {
            std::int64_t length = -1;
            layer->GetContentLength(&length);
            return length;
        });
    }

    // The decoded value of a response header, or "<none>".
    std::string ResponseHeader(const char* name)
    {
        return worker.Call([&] {
            ovCString value;
            return OV_SUCCEEDED(layer->GetResponseHeader(name, &value)) ? std::string(value.GetString())
                                                                        : std::string("<none>");
        });
    }

    std::vector<std::string> Seen()
    {
        return worker.Call([&] { return listener.Folded(); });
    }

    // The runtime's log lines so far (proxy refusals, for example).
    static std::vector<std::string> Logged()
    {
        std::lock_guard lock(LogMutex());
        return LogLines();
    }
    static void ClearLog()
    {
        std::lock_guard lock(LogMutex());
        LogLines().clear();
    }

    NpnWorker worker{&CaptureLog};
    RecordingHttpListener listener;
    ovSmartPtr ctx;
    ovIHttpClientExLayer* layer = nullptr;
};
