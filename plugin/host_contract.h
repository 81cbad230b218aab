// The records and callbacks that cross the boundary with the host, byte for byte.
// Portable: the host program, the DLL and the native tests share this header.
#pragma once
#include <cstddef>
#include <cstdint>

#if defined(__i386__) || defined(_M_IX86)
#define LV_CDECL __attribute__((cdecl))
#else
#define LV_CDECL
#endif

enum PixelFormatCode : int32_t {
  PixelFormatYuy2 = 0,
  PixelFormatBgr24 = 1,
};

struct FrameFormat {
  int32_t width;
  int32_t height;
  int32_t reserved8;    // not read by the plug-in
  int32_t pixelFormat;  // PixelFormatCode; any other value is accepted and stored
};

struct ChannelInfo {
  uint8_t reserved0[8];
  int32_t channelNumber;   // -2 VHS, -3 S-VHS, otherwise a tuner channel
  char channelName[64];    // Windows-1251, NUL-terminated within the field (not trusted to be)
  int32_t frequencyHz;
};

struct FrameInfo {
  uint8_t* pixels;  // null: the frame carries no picture
  uint8_t reserved4[40];
  ChannelInfo* channelInfo;
};

struct PluginDescriptor {
  const char* name;       // Windows-1251
  const char* extraText;  // always a valid empty text
  void(LV_CDECL* LoadSettings)();
  int(LV_CDECL* Configure)(const FrameFormat* format);
  int(LV_CDECL* ProcessFrame)(FrameInfo* frame);
  void(LV_CDECL* ReleaseBuffers)();
  void(LV_CDECL* OpenToolWindow)(void* hostWindow);  // points at the host's HWND
  void(LV_CDECL* Shutdown)();
};

using PluginVersionFn = int(LV_CDECL*)();
using PluginDescriptorFn = PluginDescriptor*(LV_CDECL*)();

constexpr int kPluginContractVersion = 3;

// Private messages.
constexpr unsigned kWmLineViewNotify = 0x590;  // to the tool window; wParam 0 refresh, 1 results, 2 channel
constexpr int kNoticeFormat = 3;  // wParam of kWmLineViewNotify after Configure: a new frame format
constexpr unsigned kWmHostCommand = 0x4C8;     // to the host's main window; wParam = command code

// The commands the tool window sends to the host's main window.
enum HostCommandCode : int {
  HostCmdChannelUp = 1227,
  HostCmdChannelDown = 1228,
  HostCmdSourceTV = 1246,
  HostCmdSourceVHS = 1248,
  HostCmdSourceSVHS = 1249,
};

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(void*) == 4);
static_assert(sizeof(FrameFormat) == 16);
static_assert(offsetof(FrameFormat, width) == 0);
static_assert(offsetof(FrameFormat, height) == 4);
static_assert(offsetof(FrameFormat, pixelFormat) == 12);
static_assert(sizeof(FrameInfo) == 48);
static_assert(offsetof(FrameInfo, pixels) == 0);
static_assert(offsetof(FrameInfo, channelInfo) == 44);
static_assert(sizeof(ChannelInfo) == 80);
static_assert(offsetof(ChannelInfo, channelNumber) == 8);
static_assert(offsetof(ChannelInfo, channelName) == 12);
static_assert(offsetof(ChannelInfo, frequencyHz) == 76);
static_assert(sizeof(PluginDescriptor) == 32);
static_assert(offsetof(PluginDescriptor, name) == 0);
static_assert(offsetof(PluginDescriptor, extraText) == 4);
static_assert(offsetof(PluginDescriptor, LoadSettings) == 8);
static_assert(offsetof(PluginDescriptor, Configure) == 12);
static_assert(offsetof(PluginDescriptor, ProcessFrame) == 16);
static_assert(offsetof(PluginDescriptor, ReleaseBuffers) == 20);
static_assert(offsetof(PluginDescriptor, OpenToolWindow) == 24);
static_assert(offsetof(PluginDescriptor, Shutdown) == 28);
#endif
