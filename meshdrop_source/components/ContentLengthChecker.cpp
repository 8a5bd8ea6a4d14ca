#include "ContentLengthChecker.h"

#include <ctime>
#include <string>

#include "HttpGetRequest.h"
#include "MeshdropLib.h"
#include "ServiceLog.h"

CContentLengthChecker::~CContentLengthChecker()
{
    StopAll();
}

int CContentLengthChecker::AddFile(const char* entry)
{
    // The first file of a new check: the lengths of the last one go.
    if (m_sessions.empty())
        m_lengths.clear();
    auto session = std::make_unique<CContentLengthCheckSession>();
    session->SetChecker(this);
    session->SetFile(static_cast<int>(m_sessions.size()), entry);
    m_sessions.push_back(std::move(session));
    m_lengths.resize(m_sessions.size(), -1);
    return MESHDROPLIB_OK;
}

void CContentLengthChecker::Start()
{
    m_startTime = std::time(nullptr);
    WriteServiceLogFormat("[MeshdropLib] Start ContentLength Check file:%d", static_cast<int>(m_sessions.size()));
    if (m_sessions.empty()) {
        if (m_pListener != nullptr)
            m_pListener->OnSizeCheckComplete(m_total);
        return;
    }
    // A check that runs already goes on as it is.
    if (m_nRunning > 0)
        return;
    // A probe that fails at once ends the check inside this loop, which then
    // finds no probes left.
    while (m_nRunning < kMaxRunning && m_nNext < m_sessions.size()) {
        ++m_nRunning;
        m_sessions[m_nNext++]->Attempt();
    }
}

void CContentLengthChecker::StartNext()
{
    if (m_nNext < m_sessions.size() && m_nRunning < kMaxRunning) {
        ++m_nRunning;
        m_sessions[m_nNext++]->Attempt();
    }
}

void CContentLengthChecker::StopAll()
{
    CSessionLock lock;
    while (!m_sessions.empty()) {
        m_sessions.back()->Close();
        m_sessions.back()->SetChecker(nullptr);
        m_sessions.pop_back();
    }
    m_nRunning = 0;
    m_nNext = 0;
    // The count belongs to the probes just destroyed: a later check counts its own.
    m_nCompleted = 0;
}

void CContentLengthChecker::OnFileLength(int fileIndex, int64_t length)
{
    if (fileIndex >= 0 && static_cast<size_t>(fileIndex) < m_lengths.size())
        m_lengths[static_cast<size_t>(fileIndex)] = length;
    m_total += length;
    ++m_nCompleted;
    if (m_nRunning > 0)
        --m_nRunning;
    if (m_nCompleted < static_cast<int>(m_sessions.size())) {
        StartNext();
        return;
    }
    WriteServiceLogFormat("[MeshdropLib] ContentLength Check Complete file:%d sec:%d", m_nCompleted,
                          static_cast<int>(std::time(nullptr) - m_startTime));
    StopAll();
    if (m_pListener != nullptr)
        m_pListener->OnSizeCheckComplete(m_total);
}

void CContentLengthChecker::OnFileFailed(int /*fileIndex*/, const char* address)
{
    const std::string copy = address != nullptr ? address : "";
    StopAll();
    if (m_pListener != nullptr)
        m_pListener->OnSizeCheckFailed(copy.c_str());
}

void CContentLengthChecker::OnFileUnreachable(int /*fileIndex*/)
{
    StopAll();
    if (m_pListener != nullptr)
        m_pListener->OnSizeCheckUnreachable();
}
