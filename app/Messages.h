#pragma once

#include <QEvent>

// Posted-event numbers between windows and threads. They keep the numbers of the
// message table (user base 1024 plus an offset) because those numbers are the contract
// between the senders and the receivers.
namespace Messages {
constexpr int UserBase = 1024;

constexpr QEvent::Type PreviewPaused = QEvent::Type(UserBase + 11);   // 1035, preview -> main window
constexpr QEvent::Type WorkerResult = QEvent::Type(UserBase + 11);    // 1035, sign-in / link worker -> its window
constexpr QEvent::Type UploadRowState = QEvent::Type(UserBase + 13);  // 1037, upload task -> history window
constexpr QEvent::Type PresentationFocus = QEvent::Type(UserBase + 19); // 1043, main window -> itself
constexpr QEvent::Type UploadStateCode = QEvent::Type(UserBase + 21); // 1045, upload task -> progress dialog
constexpr QEvent::Type UploadProgress = QEvent::Type(UserBase + 22);  // 1046, upload task -> progress dialog
constexpr QEvent::Type AvatarUploaded = QEvent::Type(UserBase + 32);  // 1056, avatar upload worker -> avatar dialog
constexpr QEvent::Type AvatarDownloaded = QEvent::Type(UserBase + 33); // 1057, avatar download worker -> user panel
constexpr QEvent::Type PenEvents = QEvent::Type(UserBase + 102);      // 1126, pen library -> pen board
constexpr QEvent::Type HistoryReload = QEvent::Type(UserBase + 171);  // 1195, history window -> itself
constexpr QEvent::Type AvatarChanged = QEvent::Type(4025);            // avatar dialog -> main window
}  // namespace Messages
