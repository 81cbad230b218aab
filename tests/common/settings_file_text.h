// The settings file a save writes with every default and no stored window position, and a
// way to expect it with one line changed.
#pragma once
#include <string>

inline const char kDefaultSettingsFile[] =
    "[PluginSettings]\r\nDlgWndPosX=-100\r\nDlgWndPosY=-100\r\nTVLine=100\r\nColorMode=0\r\n"
    "RColor=1\r\nGColor=1\r\nBColor=1\r\nYColor=1\r\nUColor=1\r\nVColor=1\r\nMode=0\r\n"
    "WhiteLevel=235\r\nBlackLevel=16\r\nStartCount=50\r\nStopCount=950\r\nFFTSensitivity=40\r\n"
    "FFTDiagMode=0\r\nWindowFunction=2\r\nLevDiagMode=1\r\n";

inline std::string WithLine(std::string file, const std::string& from, const std::string& to) {
  return file.replace(file.find(from), from.size(), to);
}
