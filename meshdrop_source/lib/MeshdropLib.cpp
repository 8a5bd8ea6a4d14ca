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

// Forwards to the manager when there is one and every output argument is
// given; 517 otherwise.
template <class Fn, class... Outputs>
int Forward(Fn&& call, const Outputs*... outputs)
{
    CJobManager* manager = Manager();
    if (manager == nullptr || ((outputs == nullptr) || ...))
        return MESHDROPLIB_ERROR_FAILED;
    return call(*manager);
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

MESHDROPLIB_API int MeshdropLib_InitializeEx(HWND clientWindow, MeshdropLibEventCallback callback, void* userValue,
                                             BYTE elevation)
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
    return Forward([&](CJobManager& manager) { return manager.GetFileListSize(size); }, size);
}

MESHDROPLIB_API int MeshdropLib_GetFileListData(FileListBuffer* data)
{
    return Forward([&](CJobManager& manager) { return manager.GetFileListData(data); }, data);
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
    return Forward([&](CJobManager& manager) { return manager.GetFileSizeTotal(total); }, total);
}

MESHDROPLIB_API int MeshdropLib_GetFileSize(uint32_t index, uint64_t* size)
{
    return Forward([&](CJobManager& manager) { return manager.GetFileSize(index, size); }, size);
}

MESHDROPLIB_API int MeshdropLib_SetEngineServiceId(const char* serviceId)
{
    return Forward([&](CJobManager& manager) { return manager.SetEngineServiceId(serviceId); });
}

MESHDROPLIB_API int MeshdropLib_CreateJob(MeshdropJobHandle* job, const char* regionCode, const char* serviceId)
{
    return Forward([&](CJobManager& manager) { return manager.CreateJob(job, regionCode, serviceId); }, job);
}

MESHDROPLIB_API int MeshdropLib_SetJobEngineFlag(MeshdropJobHandle job)
{
    return Forward([&](CJobManager& manager) { return manager.SetJobEngineFlag(job); });
}

MESHDROPLIB_API int MeshdropLib_AddFile(MeshdropJobHandle job, const char* url, const char* folder,
                                        const char* fileName, DWORD sizeLow, DWORD sizeHigh, int fileOption)
{
    return Forward([&](CJobManager& manager) {
        return manager.AddFile(job, url, folder, fileName, JoinHalves(sizeLow, sizeHigh),
                               static_cast<uint32_t>(fileOption), 0);
    });
}

MESHDROPLIB_API int MeshdropLib_SetJobRateLimit(MeshdropJobHandle job, uint64_t bytesPerSecond)
{
    return Forward([&](CJobManager& manager) { return manager.SetJobRateLimit(job, bytesPerSecond); });
}

MESHDROPLIB_API int MeshdropLib_StartJob(MeshdropJobHandle job, BYTE mode)
{
    return Forward([&](CJobManager& manager) { return manager.StartJob(job, mode); });
}

MESHDROPLIB_API int MeshdropLib_StopJob(MeshdropJobHandle job)
{
    return Forward([&](CJobManager& manager) { return manager.StopJob(job); });
}

MESHDROPLIB_API int MeshdropLib_DeleteJob(MeshdropJobHandle job)
{
    return Forward([&](CJobManager& manager) { return manager.DeleteJob(job); });
}

MESHDROPLIB_API int MeshdropLib_AnswerResume(MeshdropJobHandle job, BYTE resume, BYTE applyToAll)
{
    return Forward([&](CJobManager& manager) { return manager.AnswerResume(job, resume, applyToAll); });
}

MESHDROPLIB_API int MeshdropLib_GetRequiredSpace(MeshdropJobHandle job, uint64_t* bytes)
{
    return Forward([&](CJobManager& manager) { return manager.GetRequiredSpace(job, bytes); }, bytes);
}

MESHDROPLIB_API int MeshdropLib_GetJobSizeInfo(MeshdropJobHandle job, JobSizeInfo* info)
{
    return Forward([&](CJobManager& manager) { return manager.GetJobSizeInfo(job, info); }, info);
}

MESHDROPLIB_API int MeshdropLib_GetJobProgress(MeshdropJobHandle job, JobProgressInfo* info)
{
    return Forward([&](CJobManager& manager) { return manager.GetJobProgress(job, info); }, info);
}

MESHDROPLIB_API int MeshdropLib_PopFileDone(MeshdropJobHandle job, FileDoneInfo* info)
{
    return Forward([&](CJobManager& manager) { return manager.PopFileDone(job, info); }, info);
}

MESHDROPLIB_API int MeshdropLib_GetJobFinishInfo(MeshdropJobHandle job, JobFinishInfo* info)
{
    return Forward([&](CJobManager& manager) { return manager.GetJobFinishInfo(job, info); }, info);
}

MESHDROPLIB_API int MeshdropLib_GetNoticeTextSize(MeshdropJobHandle job, int* size)
{
    return Forward([&](CJobManager& manager) { return manager.GetNoticeTextSize(job, size); }, size);
}

MESHDROPLIB_API int MeshdropLib_PopNotice(MeshdropJobHandle job, NoticeInfo* info)
{
    return Forward([&](CJobManager& manager) { return manager.PopNotice(job, info); }, info);
}
