// Client requests, replies and notifications. Requests arrive on the message thread; notifications
// also go out from the receive threads, which hold the link lock while they notify. Sends never
// happen under the m_ipcs lock: each element is read under it and then used from a reference of
// its own, so a connection removed meanwhile lives until that send is over.
#include "app/LinkPlatform.h"
#include "app/LyrLinkSysMgrLog.h"
#include "app/MainComponent.h"
#include "ipc/LyrLinkIPCServer.h"
#include "ipc/ProcMsg.h"

namespace lyrlink
{

void MainComponent::messageAnalize (int index, const juce::MemoryBlock& block)
{
    static constexpr const char* name = "MainComponent::messageAnalize";
    const auto request = decodeRequest (block.getData(), block.getSize());

    switch (request.kind)
    {
        case KIND_PROCESS_CONNECT:
        {
            m_log->write ("%s ProcessConnect", name);
            processConnected = 1;
            const bool ok = createPipe (request.pid);
            suspended = request.result == 1 ? 1 : 0;
            replyMessage (request, index, ok);
            break;
        }
        case KIND_PROCESS_DISCONNECT:
            m_log->write ("%s ProcessDisconnect", name);
            {
                const juce::ScopedLock sl (m_linkLock);
                if (m_linkStatus.state == STATE_RUN)
                    frameSendDisconnect();
            }
            processConnected = 0;
            removePipe (request.pid);
            break;
        case KIND_GET_LINK_STATUS:
        case KIND_GET_DEVICE:
        case KIND_GET_DEVICE_LIST:
            replyMessage (request, index, true);
            break;
        case KIND_LINK_PERMIT:
            {
                const juce::ScopedLock sl (m_linkLock);
                linkPermitted = 1;
            }
            replyMessage (request, index, true);  // sends nothing for this kind
            break;
        case KIND_SUSPEND:
            suspend();
            break;
        case KIND_RESUME:
            resume();
            break;
        default:
            m_log->write ("%s NG pzProcMsg->kind = %d", name, request.kind);
            break;
    }

    // The last client has gone: the manager has nobody left to work for.
    if (request.kind == KIND_PROCESS_DISCONNECT && m_ipcs.size() <= 1)
    {
        {
            const juce::ScopedLock sl (m_linkLock);
            m_linkStatus.state = STATE_IDLE;
        }
        m_log->write ("%s LyrLinkSysMgr END", name);
        m_platform.requestQuit();
    }
}

void MainComponent::replyMessage (const RequestFields& request, int index, bool ok)
{
    static constexpr const char* name = "MainComponent::replyMessage";

    const int count = m_ipcs.size();
    if (count == 0)
    {
        m_log->write ("%s NG m_ipcs.size()", name);
        return;
    }
    if (index < 0 || index >= count)
    {
        m_log->write ("%s NG m_ipcs.size() < index", name);
        return;
    }

    auto reply = makeProcMsg (request.kind, request.pid, 0, ok ? 1u : 0u);
    switch (request.kind)
    {
        case KIND_PROCESS_CONNECT:
        case KIND_PROCESS_DISCONNECT:
            break;
        case KIND_GET_LINK_STATUS:
        {
            const juce::ScopedLock sl (m_linkLock);
            std::memcpy (reply.data, &m_linkStatus, sizeof (m_linkStatus));
            break;
        }
        case KIND_GET_DEVICE:
            // Unsigned arithmetic: any id, however large or negative, is tested without overflow.
            if (static_cast<uint32_t> (request.id) - 1u < static_cast<uint32_t> (kMaxDeviceId))
            {
                const juce::ScopedLock sl (m_linkLock);
                std::memcpy (reply.data, &m_peers[static_cast<size_t> (request.id - 1)], sizeof (DeviceEntry));
            }
            else
            {
                writeLe32 (reinterpret_cast<uint8_t*> (&reply) + offsetof (ProcMsg, result), 0);
            }
            break;
        case KIND_GET_DEVICE_LIST:
        {
            const juce::ScopedLock sl (m_linkLock);
            std::memcpy (reply.data, m_peers.data(), sizeof (m_peers));
            break;
        }
        default:
            m_log->write ("%s NG pzProcMsg->kind = %d", name, request.kind);
            return;
    }

    // Not under the link lock: a client that does not read must not hold up the link.
    if (auto connection = m_ipcs.get (index))
        connection->sendMessage (reply);
}

void MainComponent::notifyMessage (int id, int kind)
{
    static constexpr const char* name = "MainComponent::notifyMessage";

    if (! isDeviceId (id))
    {
        m_log->write ("%s NG id =%d", name, id);
        return;
    }
    const int count = m_ipcs.size();
    if (count == 0)
    {
        m_log->write ("%s NG m_ipcs.size()", name);
        return;
    }
    if (count == 1)
    {
        m_log->write ("%s NG m_ipcs.size() < 1", name);
        return;
    }

    auto msg = makeProcMsg (kind, 0, id, 1);
    {
        // Callers that change link state hold the link lock already (it is re-entrant); taking
        // it here as well keeps the copy consistent for the callers that do not.
        const juce::ScopedLock sl (m_linkLock);
        switch (kind)
        {
            case KIND_LINK_STATUS_CHANGED:
            case KIND_LINK_REJECTED:
            case KIND_AP_DEVICE_LINK_UP:
            case KIND_CONFIG_SEEN_WHILE_SUSPENDED:
                std::memcpy (msg.data, &m_linkStatus, sizeof (m_linkStatus));
                break;
            case KIND_DEVICE_CHANGED:
                std::memcpy (msg.data, &m_peers[static_cast<size_t> (id - 1)], sizeof (DeviceEntry));
                break;
            default:
                m_log->write ("%s NG kind = %d", name, kind);
                break;
        }
    }

    // The master pipe gets no notifications; the count is read afresh each step since the message
    // thread may add or remove clients meanwhile.
    for (int i = IpcList::kFirstClientIndex; i < m_ipcs.size(); ++i)
    {
        const auto connection = m_ipcs.get (i);
        if (connection == nullptr)
            break;
        setProcMsgPid (msg, connection->pid);
        connection->sendMessage (msg);
    }
}

void MainComponent::suspend()
{
    static constexpr const char* name = "MainComponent::suspend";
    m_log->write ("%s", name);

    const juce::ScopedLock sl (m_linkLock);
    suspended = 1;
    linkDown (LinkDownOptions::clientSuspend());
}

void MainComponent::resume()
{
    m_log->write ("%s", "MainComponent::resume");
    suspended = 0;
}

} // namespace lyrlink
