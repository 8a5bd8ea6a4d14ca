// The entry points of the download library. Each one looks up the library's
// job manager and forwards to it; without an instance or a manager it answers
// 517. A null output argument is refused with 517 rather than written through.

#include "MeshdropLib.h"

#include "JobManager.h"
#include "Library.h"
#include "ServiceLog.h"

namespace {

// The manager, or null; before initialisation the first diagnostic line is
// written, without a manager the second (when given).
CJobManager* Manager(const char* noInstanceLine = nullptr, const char* noManagerLine = nullptr)
{
    if (Library_GetInstance() == nullptr) {
        if (noInstanceLine != nullptr)
            WriteDiagnosticLog(noInstanceLine);
        return nullptr;
    }
    CJobManager* manager = Library_GetJobManager();
    if (manager == nullptr && noManagerLine != nullptr)
        WriteDiagnosticLog(noManagerLine);
    return manager;
}

int64_t JoinHalves(DWORD low, DWORD high)
{
    return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
}

} // namespace

MESHDROPLIB_API int MeshdropLib_Initialize(HWND clientWindow, MeshdropLibEventCallback callback, void* userValue)
{
    return MeshdropLib_InitializeEx(clientWindow, callback, userValue, 1);
}

MESHDROPLIB_API int MeshdropLib_InitializeEx(HWND clientWindow, MeshdropLibEventCallback callback,
                                             void* userValue, BYTE elevation)
{
    return Library_Initialize(clientWindow, callback, userValue, elevation);
}

MESHDROPLIB_API int MeshdropLib_Finalize(void)
{
    return Library_Finalize();
}

MESHDROPLIB_API void* MeshdropLib_GetUserValue(void)
{
    return Library_GetUserValue();
}

MESHDROPLIB_API int MeshdropLib_FetchFileList(const char* url)
{
    CJobManager* manager = Manager("[MeshdropLib_D] 0x00A0", "[MeshdropLib_D] 0x00A1");
    return manager != nullptr ? manager->FetchFileList(url) : MESHDROPLIB_ERROR_FAILED;
}

MESHDROPLIB_API int MeshdropLib_GetFileListSize(uint64_t* size)
{
    CJobManager* manager = Manager();
    return manager != nullptr && size != nullptr ? manager->GetFileListSize(size) : MESHDROPLIB_ERROR_FAILED;
}

MESHDROPLIB_API int MeshdropLib_GetFileListData(FileListBuffer* data)
{
    CJobManager* manager = Manager();
    return manager != nullptr && data != nullptr ? manager->GetFileListData(data) : MESHDROPLIB_ERROR_FAILED;
}

MESHDROPLIB_API int MeshdropLib_AddFileSizeCheck(const char* url)
{
    CJobManager* manager = Manager("[MeshdropLib_D] 0x00B1", "[MeshdropLib_D] 0x00B2");
    return manager != nullptr ? manager->AddFileSizeCheck(url) : MESHDROPLIB_ERROR_FAILED;
}

MESHDROPLIB_API int MeshdropLib_StartFileSizeCheck(void)
{
    CJobManager* manager = Manager("[MeshdropLib_D] 0x0008", "[MeshdropLib_D] 0x0007");
    return manager != nullptr ? manager->StartFileSizeCheck() : MESHDROPLIB_ERROR_FAILED;
}

MESHDROPLIB_API int MeshdropLib_GetFileSizeTotal(uint64_t* total)
{
    CJobManager* manager = Manager();
    return manager != nullptr && total != nullptr ? manager->GetFileSizeTotal(total) : MESHDROPLIB_ERROR_FAILED;
}

MESHDROPLIB_API int MeshdropLib_SetEngineServiceId(const char* serviceId)
{
    CJobManager* manager = Manager();
    return manager != nullptr ? manager->SetEngineServiceId(serviceId) : MESHDROPLIB_ERROR_FAILED;
}

MESHDROPLIB_API int MeshdropLib_CreateJob(MeshdropJobHandle* job, const char* regionCode, const char* serviceId)
{
    CJobManager* manager = Manager();
    return manager != nullptr && job != nullptr ? manager->CreateJob(job, regionCode, serviceId)
                                                : MESHDROPLIB_ERROR_FAILED;
}

MESHDROPLIB_API int MeshdropLib_SetJobEngineFlag(MeshdropJobHandle job)
{
    CJobManager* manager = Manager();
    return manager != nullptr ? manager->SetJobEngineFlag(job) : MESHDROPLIB_ERROR_FAILED;
}

MESHDROPLIB_API int MeshdropLib_AddFile(MeshdropJobHandle job, const char* url, const char* folder,
                                        const char* fileName, DWORD sizeLow, DWORD sizeHigh, int fileOption)
{
    CJobManager* manager = Manager();
    if (manager == nullptr)
        return MESHDROPLIB_ERROR_FAILED;
    return manager->AddFile(job, url, folder, fileName, JoinHalves(sizeLow, sizeHigh),
                            static_cast<uint32_t>(fileOption), 0);
}

MESHDROPLIB_API int MeshdropLib_StartJob(MeshdropJobHandle job, BYTE mode)
{
    CJobManager* manager = Manager();
    return manager != nullptr ? manager->StartJob(job, mode) : MESHDROPLIB_ERROR_FAILED;
}

MESHDROPLIB_API int MeshdropLib_StopJob(MeshdropJobHandle job)
{
    CJobManager* manager = Manager();
    return manager != nullptr ? manager->StopJob(job) : MESHDROPLIB_ERROR_FAILED;
}

MESHDROPLIB_API int MeshdropLib_DeleteJob(MeshdropJobHandle job)
{
    CJobManager* manager = Manager();
    return manager != nullptr ? manager->DeleteJob(job) : MESHDROPLIB_ERROR_FAILED;
}

MESHDROPLIB_API int MeshdropLib_AnswerResume(MeshdropJobHandle job, BYTE resume, BYTE applyToAll)
{
    CJobManager* manager = Manager();
    return manager != nullptr ? manager->AnswerResume(job, resume, applyToAll) : MESHDROPLIB_ERROR_FAILED;
}

MESHDROPLIB_API int MeshdropLib_GetRequiredSpace(MeshdropJobHandle job, uint64_t* bytes)
{
    CJobManager* manager = Manager();
    return manager != nullptr && bytes != nullptr ? manager->GetRequiredSpace(job, bytes)
                                                  : MESHDROPLIB_ERROR_FAILED;
}

MESHDROPLIB_API int MeshdropLib_GetJobSizeInfo(MeshdropJobHandle job, JobSizeInfo* info)
{
    CJobManager* manager = Manager();
    return manager != nullptr && info != nullptr ? manager->GetJobSizeInfo(job, info) : MESHDROPLIB_ERROR_FAILED;
}

MESHDROPLIB_API int MeshdropLib_GetJobProgress(MeshdropJobHandle job, JobProgressInfo* info)
{
    CJobManager* manager = Manager();
    return manager != nullptr && info != nullptr ? manager->GetJobProgress(job, info) : MESHDROPLIB_ERROR_FAILED;
}

MESHDROPLIB_API int MeshdropLib_PopFileDone(MeshdropJobHandle job, FileDoneInfo* info)
{
    CJobManager* manager = Manager();
    return manager != nullptr && info != nullptr ? manager->PopFileDone(job, info) : MESHDROPLIB_ERROR_FAILED;
}

MESHDROPLIB_API int MeshdropLib_GetJobFinishInfo(MeshdropJobHandle job, JobFinishInfo* info)
{
    CJobManager* manager = Manager();
    return manager != nullptr && info != nullptr ? manager->GetJobFinishInfo(job, info)
                                                 : MESHDROPLIB_ERROR_FAILED;
}

MESHDROPLIB_API int MeshdropLib_GetNoticeTextSize(MeshdropJobHandle job, int* size)
{
    CJobManager* manager = Manager();
    return manager != nullptr && size != nullptr ? manager->GetNoticeTextSize(job, size)
                                                 : MESHDROPLIB_ERROR_FAILED;
}

MESHDROPLIB_API int MeshdropLib_PopNotice(MeshdropJobHandle job, NoticeInfo* info)
{
    CJobManager* manager = Manager();
    return manager != nullptr && info != nullptr ? manager->PopNotice(job, info) : MESHDROPLIB_ERROR_FAILED;
}
