// What this service knows about the program it keeps alive, gathered in one place.
#pragma once

// The watched service's own key, with the command line that the SCM runs for it.
inline constexpr wchar_t kWatchedServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\voranexsv";
inline constexpr wchar_t kWatchedImagePathValue[] = L"ImagePath";

// The product's key, with the folder that holds the watched program's configuration.
inline constexpr wchar_t kProductKey[] = L"SOFTWARE\\VORANEX\\VORANEXSV";
inline constexpr wchar_t kConfigPathValue[] = L"configPath";

inline constexpr wchar_t kWatchedServiceName[] = L"voranexsv";
inline constexpr wchar_t kWatchedImageName[] = L"voranexsv.exe";

inline constexpr char kConfigFileName[] = "server.conf";
inline constexpr char kListeningPortsKey[] = "listening_ports";
inline constexpr char kSslPortKey[] = "ssl_port";

// Appended to the quoted image path to start the watched program again.
inline constexpr char kRestartSuffix[] = " -start";
