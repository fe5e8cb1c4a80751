/* The web server's filter interface for builds outside Windows: the records and
 * constants a filter and its host exchange, with the Windows SDK's names, member
 * order and widths, so that a host written against the SDK header compiles
 * unchanged and the same records pass between any host and the module. */
#ifndef QUILLHARBOR_POSIX_HTTPFILT_H
#define QUILLHARBOR_POSIX_HTTPFILT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t DWORD;
typedef DWORD* LPDWORD;
typedef int32_t BOOL;
typedef BOOL WINBOOL;
typedef char CHAR;
typedef CHAR* LPSTR;
typedef void VOID;
typedef void* PVOID;
typedef void* LPVOID;
typedef void* HANDLE;
typedef uintptr_t ULONG_PTR;
#ifndef TRUE
#  define TRUE 1
#endif
#ifndef FALSE
#  define FALSE 0
#endif
#define WINAPI

#define HTTP_FILTER_REVISION ((DWORD)6 << 16)
#define SF_MAX_USERNAME (256 + 1)
#define SF_MAX_PASSWORD (256 + 1)
#define SF_MAX_AUTH_TYPE (32 + 1)
#define SF_MAX_FILTER_DESC_LEN (256 + 1)

enum SF_REQ_TYPE {
  SF_REQ_SEND_RESPONSE_HEADER,
  SF_REQ_ADD_HEADERS_ON_DENIAL,
  SF_REQ_SET_NEXT_READ_SIZE,
  SF_REQ_SET_PROXY_INFO,
  SF_REQ_GET_CONNID,
  SF_REQ_SET_CERTIFICATE_INFO,
  SF_REQ_GET_PROPERTY,
  SF_REQ_NORMALIZE_URL,
  SF_REQ_DISABLE_NOTIFICATIONS
};

enum SF_STATUS_TYPE {
  SF_STATUS_REQ_FINISHED = 0x8000000,
  SF_STATUS_REQ_FINISHED_KEEP_CONN,
  SF_STATUS_REQ_NEXT_NOTIFICATION,
  SF_STATUS_REQ_HANDLED_NOTIFICATION,
  SF_STATUS_REQ_ERROR,
  SF_STATUS_REQ_READ_NEXT
};

typedef struct _HTTP_FILTER_CONTEXT {
  DWORD cbSize;
  DWORD Revision;
  PVOID ServerContext;
  DWORD ulReserved;
  WINBOOL fIsSecurePort;
  PVOID pFilterContext;
  WINBOOL (WINAPI* GetServerVariable)(struct _HTTP_FILTER_CONTEXT* pfc, LPSTR lpszVariableName,
                                      LPVOID lpvBuffer, LPDWORD lpdwSize);
  WINBOOL (WINAPI* AddResponseHeaders)(struct _HTTP_FILTER_CONTEXT* pfc, LPSTR lpszHeaders,
                                       DWORD dwReserved);
  WINBOOL (WINAPI* WriteClient)(struct _HTTP_FILTER_CONTEXT* pfc, LPVOID Buffer, LPDWORD lpdwBytes,
                                DWORD dwReserved);
  VOID* (WINAPI* AllocMem)(struct _HTTP_FILTER_CONTEXT* pfc, DWORD cbSize, DWORD dwReserved);
  WINBOOL (WINAPI* ServerSupportFunction)(struct _HTTP_FILTER_CONTEXT* pfc, enum SF_REQ_TYPE sfReq,
                                          PVOID pData, ULONG_PTR ul1, ULONG_PTR ul2);
} HTTP_FILTER_CONTEXT, *PHTTP_FILTER_CONTEXT;

typedef struct _HTTP_FILTER_LOG {
  const CHAR* pszClientHostName;
  const CHAR* pszClientUserName;
  const CHAR* pszServerName;
  const CHAR* pszOperation;
  const CHAR* pszTarget;
  const CHAR* pszParameters;
  DWORD dwHttpStatus;
  DWORD dwWin32Status;
  DWORD dwBytesSent;
  DWORD dwBytesRecvd;
  DWORD msTimeForProcessing;
} HTTP_FILTER_LOG, *PHTTP_FILTER_LOG;

#define SF_NOTIFY_SECURE_PORT 0x00000001
#define SF_NOTIFY_NONSECURE_PORT 0x00000002
#define SF_NOTIFY_READ_RAW_DATA 0x00008000
#define SF_NOTIFY_PREPROC_HEADERS 0x00004000
#define SF_NOTIFY_AUTHENTICATION 0x00002000
#define SF_NOTIFY_URL_MAP 0x00001000
#define SF_NOTIFY_ACCESS_DENIED 0x00000800
#define SF_NOTIFY_SEND_RESPONSE 0x00000040
#define SF_NOTIFY_SEND_RAW_DATA 0x00000400
#define SF_NOTIFY_LOG 0x00000200
#define SF_NOTIFY_END_OF_REQUEST 0x00000080
#define SF_NOTIFY_END_OF_NET_SESSION 0x00000100
#define SF_NOTIFY_AUTH_COMPLETE 0x04000000
#define SF_NOTIFY_ORDER_HIGH 0x00080000
#define SF_NOTIFY_ORDER_MEDIUM 0x00040000
#define SF_NOTIFY_ORDER_LOW 0x00020000
#define SF_NOTIFY_ORDER_DEFAULT SF_NOTIFY_ORDER_LOW
#define SF_NOTIFY_ORDER_MASK (SF_NOTIFY_ORDER_HIGH | SF_NOTIFY_ORDER_MEDIUM | SF_NOTIFY_ORDER_LOW)

typedef struct _HTTP_FILTER_VERSION {
  DWORD dwServerFilterVersion;
  DWORD dwFilterVersion;
  CHAR lpszFilterDesc[SF_MAX_FILTER_DESC_LEN];
  DWORD dwFlags;
} HTTP_FILTER_VERSION, *PHTTP_FILTER_VERSION;

DWORD WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD NotificationType, VOID* pvNotification);
WINBOOL WINAPI GetFilterVersion(HTTP_FILTER_VERSION* pVer);
WINBOOL WINAPI TerminateFilter(DWORD dwFlags);

#ifdef __cplusplus
}
#endif

#endif
