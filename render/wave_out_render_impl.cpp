#include "render/wave_out_render_impl.h"

#include "platform/alsa_sound_device.h"
#include "platform/event.h"

#include <algorithm>
#include <cstring>

namespace qm {

CWaveOutRenderImpl::CWaveOutRenderImpl()
    : CWaveOutRenderImpl(std::make_unique<TAlsaSoundDevice>("default")) {}

CWaveOutRenderImpl::CWaveOutRenderImpl(std::unique_ptr<ISoundDevice> device)
    : m_pDevice(std::move(device)) {
    {
        std::lock_guard<std::mutex> guard(m_messageLock);
        m_bAccepting = true;
    }
    if (!Start(kPriorityHighest)) {
        std::lock_guard<std::mutex> guard(m_messageLock);
        m_bAccepting = false;
    }
    if (!m_pDevice) return;
    // The device reports finished blocks to this object's thread. Neither a
    // failed open nor a refused volume is fatal: the device then stays silent.
    m_pDevice->Open(SoundFormat{8000, 1, 16}, [this](uint8_t* header) {
        Post({Message::kDone, header, nullptr});
    });
    m_pDevice->SetVolume(kVolume);
}

CWaveOutRenderImpl::~CWaveOutRenderImpl() {
    // Completions from here on no longer unprepare their headers.
    m_nClosing.fetch_add(1);
    if (m_pDevice) {
        // Every queued block is reported done, and its completion posted,
        // before the quit message.
        m_pDevice->Reset();
        m_pDevice->Close();
    }
    if (Post({Message::kQuit, nullptr, nullptr}) && HasThread()) Stop();
    m_pDevice.reset();
    {
        std::lock_guard<std::mutex> guard(m_inFlightLock);
        m_inFlight.clear();
    }
    {
        std::lock_guard<std::mutex> guard(m_freePoolLock);
        m_freePool.clear();
    }
    m_preroll.clear();
}

void CWaveOutRenderImpl::Write(uint32_t byteCount, const uint8_t* data) {
    if ((!data && byteCount > 0) || byteCount > kMaxWriteBytes) return;
    Block block;
    {
        std::lock_guard<std::mutex> guard(m_freePoolLock);
        if (!m_freePool.empty()) {
            block = std::move(m_freePool.back());
            m_freePool.pop_back();
        }
    }
    if (!block) block = std::make_unique<TSysData>();
    uint8_t* area = block->Alloc(byteCount + TSysData::kHeaderBytes);
    if (!area) {
        // No memory for this block: its sound is dropped.
        Recycle(std::move(block));
        return;
    }
    if (byteCount > 0) std::memcpy(area + TSysData::kHeaderBytes, data, byteCount);

    if (m_bStarted) {
        Submit(std::move(block));
        return;
    }
    m_preroll.push_back(std::move(block));
    if (m_preroll.size() < kPrerollBlocks) return;
    m_bStarted = true;
    for (Block& waiting : m_preroll)
        Submit(std::move(waiting));
    m_preroll.clear();
}

bool CWaveOutRenderImpl::Submit(Block block) {
    SoundHeader header(block->Header());
    header.Fill(block->Samples(), block->SampleBytes());

    std::lock_guard<std::mutex> guard(m_inFlightLock);
    if (m_bThrottled) {
        // While throttled every block is queued; the limit is re-armed once
        // the device has caught up.
        if (m_inFlight.size() <= kRearmInFlight) m_bThrottled = false;
    } else if (m_inFlight.size() >= kMaxInFlight) {
        m_bThrottled = true;
        Recycle(std::move(block));
        return false;
    }
    uint8_t* address = header.Address();
    m_inFlight.push_back(std::move(block));
    const bool prepared = m_pDevice && m_pDevice->PrepareHeader(address);
    if (!prepared || !m_pDevice->Write(address)) {
        // The device will never report this block: take it back at once.
        if (prepared) m_pDevice->UnprepareHeader(address);
        Block back = std::move(m_inFlight.back());
        m_inFlight.pop_back();
        Recycle(std::move(back));
    }
    return true;
}

void CWaveOutRenderImpl::OnDone(uint8_t* header) {
    if (m_nClosing.load() == 0 && m_pDevice) m_pDevice->UnprepareHeader(header);
    std::lock_guard<std::mutex> guard(m_inFlightLock);
    const auto it = std::find_if(m_inFlight.begin(), m_inFlight.end(),
                                 [&](const Block& block) { return block->Header() == header; });
    if (it == m_inFlight.end()) return;
    Block block = std::move(*it);
    m_inFlight.erase(it);
    Recycle(std::move(block));
}

void CWaveOutRenderImpl::Recycle(Block block) {
    std::lock_guard<std::mutex> guard(m_freePoolLock);
    m_freePool.push_back(std::move(block));
}

bool CWaveOutRenderImpl::Post(const Message& message) {
    {
        std::lock_guard<std::mutex> guard(m_messageLock);
        if (!m_bAccepting) return false;
        m_messages.push_back(message);
        // Nothing is handled after the quit message, so nothing more is taken.
        if (message.kind == Message::kQuit) m_bAccepting = false;
    }
    m_messageReady.notify_one();
    return true;
}

void CWaveOutRenderImpl::Run() {
    for (;;) {
        Message message;
        {
            std::unique_lock<std::mutex> lock(m_messageLock);
            m_messageReady.wait(lock, [&] { return !m_messages.empty(); });
            message = m_messages.front();
            m_messages.pop_front();
        }
        switch (message.kind) {
        case Message::kDone:
            OnDone(message.header);
            break;
        case Message::kSync:
            message.handled->Set();
            break;
        case Message::kQuit:
            return;
        }
    }
}

void CWaveOutRenderImpl::Sync() {
    Event handled(true, false);
    if (Post({Message::kSync, nullptr, &handled})) handled.Wait();
}

size_t CWaveOutRenderImpl::InFlightCount() const {
    std::lock_guard<std::mutex> guard(m_inFlightLock);
    return m_inFlight.size();
}

size_t CWaveOutRenderImpl::FreePoolCount() const {
    std::lock_guard<std::mutex> guard(m_freePoolLock);
    return m_freePool.size();
}

bool CWaveOutRenderImpl::IsThrottled() const {
    std::lock_guard<std::mutex> guard(m_inFlightLock);
    return m_bThrottled;
}

} // namespace qm
