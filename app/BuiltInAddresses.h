// The addresses built into the program: the file list and the banner on the
// publisher's download server. The server is a build setting
// (QLS_PUBLISHER_URL, a CMake cache variable); by default it is the bundled
// publisher server on this machine's loopback port.
#pragma once

#ifndef QLS_PUBLISHER_URL
#define QLS_PUBLISHER_URL "http://127.0.0.1:18080"
#endif

#define QLS_WIDEN_(text) L##text
#define QLS_WIDEN(text)  QLS_WIDEN_(text)

inline constexpr const wchar_t* kBuiltInFileListUrl =
    QLS_WIDEN(QLS_PUBLISHER_URL) L"/download/tharnel/qlsdownload/filelist.txt";
inline constexpr const wchar_t* kBuiltInBannerUrl =
    QLS_WIDEN(QLS_PUBLISHER_URL) L"/download/tharnel/qlsdownload/tharnel.gif";
