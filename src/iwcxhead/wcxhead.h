// The file manager's WCX packer interface: records, constants and result codes,
// written from the interface's published values.
//
// The records are never written as a whole and sizeof is never relied on: some
// 64-bit hosts lay them out packed (no padding before CmtBuf), so the plug-in
// writes only the fields it owns, by name.
#ifndef TOLVEX_IWCXHEAD_WCXHEAD_H
#define TOLVEX_IWCXHEAD_WCXHEAD_H

// stdcall on 32-bit Windows, the platform's default convention everywhere else.
#if defined(_WIN32) && !defined(_WIN64)
#define WCX_API __stdcall
#else
#define WCX_API
#endif

// The exports stay visible when the rest of the module is built hidden.
#if defined(__GNUC__) && !defined(_WIN32)
#define WCX_EXPORT __attribute__((visibility("default")))
#else
#define WCX_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Result codes.
enum {
  E_SUCCESS = 0,
  E_END_ARCHIVE = 10,
  E_NO_MEMORY = 11,
  E_BAD_DATA = 12,
  E_BAD_ARCHIVE = 13,
  E_UNKNOWN_FORMAT = 14,
  E_EOPEN = 15,
  E_ECREATE = 16,
  E_ECLOSE = 17,
  E_EREAD = 18,
  E_EWRITE = 19,
  E_SMALL_BUF = 20,
  E_EABORTED = 21,
  E_NO_FILES = 22,
  E_TOO_MANY_FILES = 23,
  E_NOT_SUPPORTED = 24
};

// ProcessFile operations.
enum { PK_SKIP = 0, PK_TEST = 1, PK_EXTRACT = 2 };

// OpenArchive modes.
enum { PK_OM_LIST = 0, PK_OM_EXTRACT = 1 };

// PackFiles flags.
enum { PK_PACK_MOVE_FILES = 1, PK_PACK_SAVE_PATHS = 2 };

// GetPackerCaps bits.
enum {
  PK_CAPS_NEW = 1,
  PK_CAPS_MODIFY = 2,
  PK_CAPS_MULTIPLE = 4,
  PK_CAPS_DELETE = 8,
  PK_CAPS_OPTIONS = 16,
  PK_CAPS_MEMPACK = 32,
  PK_CAPS_BY_CONTENT = 64,
  PK_CAPS_SEARCHTEXT = 128,
  PK_CAPS_HIDE = 256
};

// Directory attribute as the Windows host reads FileAttr.
enum { WCX_FILE_ATTRIBUTE_DIRECTORY = 16 };

typedef struct {
  char ArcName[260];
  char FileName[260];
  int Flags;
  int PackSize;
  int UnpSize;
  int HostOS;
  int FileCRC;
  int FileTime;
  int UnpVer;
  int Method;
  int FileAttr;
  char* CmtBuf;
  int CmtBufSize;
  int CmtSize;
  int CmtState;
} tHeaderData;

typedef struct {
  char* ArcName;
  int OpenMode;
  int OpenResult;
  char* CmtBuf;
  int CmtBufSize;
  int CmtSize;
  int CmtState;
} tOpenArchiveData;

// Progress callback: the entry's name and its size. A result of 0 asks for
// cancellation; this plug-in does not look at it.
typedef int(WCX_API* tProcessDataProc)(char* FileName, int Size);

// The archive handle the host passes back.
typedef void* HANDLE_WCX;

// The nine exports. Each may be called from several threads at once as long
// as they work on different archive handles (and PackFiles and DeleteFiles on
// different archive files): all state lives in the handle or in the call.
// The progress callback is the one exception, shared by all of them as the
// interface makes it: SetProcessDataProc replaces it for every thread.
WCX_EXPORT HANDLE_WCX WCX_API OpenArchive(tOpenArchiveData* ArchiveData);
WCX_EXPORT int WCX_API ReadHeader(HANDLE_WCX hArcData, tHeaderData* HeaderData);
WCX_EXPORT int WCX_API ProcessFile(HANDLE_WCX hArcData, int Operation, char* DestPath, char* DestName);
WCX_EXPORT int WCX_API CloseArchive(HANDLE_WCX hArcData);
WCX_EXPORT int WCX_API PackFiles(char* PackedFile, char* SubPath, char* SrcPath, char* AddList, int Flags);
WCX_EXPORT int WCX_API DeleteFiles(char* PackedFile, char* DeleteList);
WCX_EXPORT int WCX_API GetPackerCaps(void);
WCX_EXPORT void WCX_API SetProcessDataProc(HANDLE_WCX hArcData, tProcessDataProc pProcessDataProc);
WCX_EXPORT int WCX_API CanYouHandleThisFile(char* FileName);

#ifdef __cplusplus
}
#endif

#endif
