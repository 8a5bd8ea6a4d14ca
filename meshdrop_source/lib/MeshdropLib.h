/*
 * MeshdropLib.h: the whole interface of the download library toward its client.
 *
 * The library runs its network work on a worker thread of its own and reports
 * to the client by posting MESHDROPLIB_WM_EVENT to the client window (and, when
 * one was given, by calling the event callback). The client copies each event's
 * payload out with the accessor entry points below; it never keeps pointers
 * into the library.
 *
 * Every entry point returns a library status code (MESHDROPLIB_OK and the
 * MESHDROPLIB_ERROR_* values) unless stated otherwise. Strings are narrow,
 * NUL-terminated, in the system code page.
 */
#ifndef MESHDROPLIB_H
#define MESHDROPLIB_H

#include <stdint.h>
#include <windows.h>

#ifdef __cplusplus
#define MESHDROPLIB_EXTERN_C extern "C"
#else
#define MESHDROPLIB_EXTERN_C
#endif

/* The shared library is built with hidden visibility: this macro marks the
   entry points, and nothing else, as exported. */
#define MESHDROPLIB_API MESHDROPLIB_EXTERN_C __attribute__((visibility("default")))

/* The event callback uses the platform's callee-cleans convention where one
   exists; x86-64 has a single convention, so the macro is empty here. */
#define MESHDROPLIB_CALLBACK

/* ---- Library status codes ------------------------------------------------ */
#define MESHDROPLIB_OK                        512 /* success */
#define MESHDROPLIB_ERROR_URL                 513 /* a required URL is missing or empty */
#define MESHDROPLIB_ERROR_FOLDER              514 /* the folder is missing, empty or cannot be created */
#define MESHDROPLIB_ERROR_JOB_RUNNING         515 /* the job already runs on that downloader */
#define MESHDROPLIB_ERROR_JOB_NOT_RUNNING     516 /* the job does not run on that downloader */
#define MESHDROPLIB_ERROR_FAILED              517 /* not initialised, unknown job, wrong state, duplicate, no data */
#define MESHDROPLIB_ERROR_ALREADY_INITIALIZED 518 /* an instance exists already */
#define MESHDROPLIB_ERROR_INVALID_SIZE        520 /* a file size below -1, or 0 */

/* ---- The window message and its event codes ------------------------------ */
/* Posted, never sent: wParam is the event code, lParam the event parameter. */
#define MESHDROPLIB_WM_EVENT 0x2B10

#define MESHDROPLIB_EVENT_JOB_SIZE             513 /* job: JobSizeInfo ready */
#define MESHDROPLIB_EVENT_JOB_PROGRESS         514 /* job: JobProgressInfo updated */
#define MESHDROPLIB_EVENT_FILE_DONE            515 /* job: one FileDoneInfo queued */
#define MESHDROPLIB_EVENT_JOB_FINISHED         516 /* job: JobFinishInfo ready */
#define MESHDROPLIB_EVENT_JOB_NOTICE           517 /* job: one notice queued */
#define MESHDROPLIB_EVENT_ENGINE_UPDATE_FILE   518 /* engine update began a file */
#define MESHDROPLIB_EVENT_ENGINE_UPDATE_DATA   519 /* engine update received data */
#define MESHDROPLIB_EVENT_ENGINE_READY         520 /* engine update done, engine ready */
#define MESHDROPLIB_EVENT_ENGINE_UPDATE_FAILED 521 /* engine update failed */
#define MESHDROPLIB_EVENT_FILE_LIST_DONE       522 /* file-list fetch completed */
#define MESHDROPLIB_EVENT_FILE_LIST_FAILED     523 /* file-list fetch failed */
#define MESHDROPLIB_EVENT_ASK_RESUME           524 /* job: resume existing files? */
#define MESHDROPLIB_EVENT_SIZE_CHECK_DONE      525 /* content-length check finished */
#define MESHDROPLIB_EVENT_SIZE_CHECK_FAILED    526 /* content-length check failed */
#define MESHDROPLIB_EVENT_ENGINE_PATH_FAILED   527 /* manager: engine folder not accessible */
#define MESHDROPLIB_EVENT_DOWNLOAD_PATH_FAILED 528 /* manager: download folder not creatable */
#define MESHDROPLIB_EVENT_FILE_LIST_TICK       529 /* once a second while the file list is fetched */
#define MESHDROPLIB_EVENT_ENGINE_STATUS        530 /* the engine reported a status value */
#define MESHDROPLIB_EVENT_ENGINE_DROPPED                       \
    531 /* the engine is given up for good: every job goes the \
           direct way (after 521, 527, or launches that failed) */

/* ---- Notice codes (event MESHDROPLIB_EVENT_JOB_NOTICE, NoticeInfo.code) --- */
#define MESHDROPLIB_NOTICE_NONE             512 /* the notice queue was empty */
#define MESHDROPLIB_NOTICE_DISK_FULL        513 /* not enough disk space; text: a URL or none */
#define MESHDROPLIB_NOTICE_NETWORK_LOST     515
#define MESHDROPLIB_NOTICE_NETWORK_BACK     516
#define MESHDROPLIB_NOTICE_JOB_FAILED       517 /* text: the failing URL or none */
#define MESHDROPLIB_NOTICE_ENGINE_JOB_ERROR 518

/* ---- Payload records ------------------------------------------------------ */
#define MESHDROPLIB_FILE_NAME_SIZE 66 /* 65 characters and the terminator */
#define MESHDROPLIB_FILE_DONE_TEXT 1024

typedef struct JobSizeInfo {
    uint32_t fileCount;
    uint64_t totalSize;
} JobSizeInfo;

typedef struct JobProgressInfo {
    uint64_t totalSize; /* bytes of the job */
    uint64_t doneSize;  /* bytes done, including bytes already on disk */
    uint32_t fileCount;
    uint32_t fileCounter; /* files completed, or the engine's file number */
    uint32_t speed;       /* bytes per second */
    uint64_t elapsed;     /* seconds since downloading started */
    uint64_t remaining;   /* estimated seconds remaining */
    uint32_t percent;     /* 0 to 100 */
    uint32_t fileIndex;   /* current file, 0-based */
    uint64_t fileSize;
    uint64_t fileDone;
    int64_t fileSpeed;
    uint64_t fileRemaining;
    uint32_t filePercent;
    char fileName[MESHDROPLIB_FILE_NAME_SIZE];
} JobProgressInfo;

typedef struct FileDoneInfo {
    uint32_t fileCount;
    uint32_t sequence;                     /* counts from 1 within the job */
    char text[MESHDROPLIB_FILE_DONE_TEXT]; /* "<URL>,<local path>" */
} FileDoneInfo;

typedef struct JobFinishInfo {
    uint32_t fileCount;
    uint32_t filesCompleted;
    uint32_t result;
} JobFinishInfo;

typedef struct NoticeInfo {
    uint32_t code; /* MESHDROPLIB_NOTICE_NONE when the queue was empty */
    char* text;    /* client buffer or NULL */
} NoticeInfo;

typedef struct FileListBuffer {
    void* buffer;  /* client buffer */
    uint64_t size; /* must equal the fetched size */
} FileListBuffer;

/* A job handle names a job; zero is never a job. */
typedef uintptr_t MeshdropJobHandle;

/* Called, when given, right after each event message is posted (also when no
   client window is known), on whichever thread raised the event. */
typedef void(MESHDROPLIB_CALLBACK* MeshdropLibEventCallback)(UINT eventCode, LPARAM eventParam, void* userValue);

/* ---- Lifetime ------------------------------------------------------------- */
MESHDROPLIB_API int MeshdropLib_Initialize(HWND clientWindow, MeshdropLibEventCallback callback, void* userValue);
MESHDROPLIB_API int MeshdropLib_InitializeEx(HWND clientWindow, MeshdropLibEventCallback callback, void* userValue,
                                             BYTE elevation);
MESHDROPLIB_API int MeshdropLib_Finalize(void);
MESHDROPLIB_API void* MeshdropLib_GetUserValue(void);

/* ---- File list and size check --------------------------------------------- */
MESHDROPLIB_API int MeshdropLib_FetchFileList(const char* url);
MESHDROPLIB_API int MeshdropLib_GetFileListSize(uint64_t* size);
MESHDROPLIB_API int MeshdropLib_GetFileListData(FileListBuffer* data);
MESHDROPLIB_API int MeshdropLib_AddFileSizeCheck(const char* url);
MESHDROPLIB_API int MeshdropLib_StartFileSizeCheck(void);
MESHDROPLIB_API int MeshdropLib_GetFileSizeTotal(uint64_t* total);
/* The length the size check found for one file: the index counts the files
   in the order they were added with MeshdropLib_AddFileSizeCheck, from 0.
   517 while that file's length is not known. */
MESHDROPLIB_API int MeshdropLib_GetFileSize(uint32_t index, uint64_t* size);

/* ---- Jobs ------------------------------------------------------------------ */
MESHDROPLIB_API int MeshdropLib_SetEngineServiceId(const char* serviceId);
MESHDROPLIB_API int MeshdropLib_CreateJob(MeshdropJobHandle* job, const char* regionCode, const char* serviceId);
MESHDROPLIB_API int MeshdropLib_SetJobEngineFlag(MeshdropJobHandle job);
/* The size is a signed 64-bit value in two halves; -1 means unknown. */
MESHDROPLIB_API int MeshdropLib_AddFile(MeshdropJobHandle job, const char* url, const char* folder,
                                        const char* fileName, DWORD sizeLow, DWORD sizeHigh, int fileOption);
/* Holds the whole job under `bytesPerSecond` (0: only the mode's limit), on
   the direct path and through the local engine alike; read when the job
   starts. */
MESHDROPLIB_API int MeshdropLib_SetJobRateLimit(MeshdropJobHandle job, uint64_t bytesPerSecond);
MESHDROPLIB_API int MeshdropLib_StartJob(MeshdropJobHandle job, BYTE mode);
MESHDROPLIB_API int MeshdropLib_StopJob(MeshdropJobHandle job);
MESHDROPLIB_API int MeshdropLib_DeleteJob(MeshdropJobHandle job);
MESHDROPLIB_API int MeshdropLib_AnswerResume(MeshdropJobHandle job, BYTE resume, BYTE applyToAll);
MESHDROPLIB_API int MeshdropLib_GetRequiredSpace(MeshdropJobHandle job, uint64_t* bytes);

/* ---- Event accessors -------------------------------------------------------- */
/* A known job answers MESHDROPLIB_OK also when there was nothing to copy; the
   output is then left untouched, so clear the record first. */
MESHDROPLIB_API int MeshdropLib_GetJobSizeInfo(MeshdropJobHandle job, JobSizeInfo* info);
MESHDROPLIB_API int MeshdropLib_GetJobProgress(MeshdropJobHandle job, JobProgressInfo* info);
MESHDROPLIB_API int MeshdropLib_PopFileDone(MeshdropJobHandle job, FileDoneInfo* info);
MESHDROPLIB_API int MeshdropLib_GetJobFinishInfo(MeshdropJobHandle job, JobFinishInfo* info);
MESHDROPLIB_API int MeshdropLib_GetNoticeTextSize(MeshdropJobHandle job, int* size);
MESHDROPLIB_API int MeshdropLib_PopNotice(MeshdropJobHandle job, NoticeInfo* info);

#endif /* MESHDROPLIB_H */
