// Resource and control ids: the one list used by the .rc and the code alike.
// Plain #defines, since the resource compiler reads this file too.
#pragma once

// Dialog templates and the About bitmap.
#define IDD_ANALYZER 5000
#define IDD_ABOUT 5002
#define IDB_ABOUT 5004
#define IDD_SCOPE_PAGE 5006
#define IDD_SPECTRUM_PAGE 5007
#define IDD_LEVELS_PAGE 5008

// The tool window (template 5000).
#define IDC_CLOSE 5003
#define IDC_ABOUT 5008
#define IDC_TAB 5072
#define IDC_CHANNEL_NUMBER 5080
#define IDC_CHANNEL_SPIN 5081
#define IDC_SOURCE_TV 5090
#define IDC_SOURCE_VHS 5093
#define IDC_SOURCE_SVHS 5094
#define IDC_CHANNEL_NAME 5065
#define IDC_CHANNEL_FREQUENCY 5064
#define IDC_TVLINE_EDIT 5099
#define IDC_TVLINE_SPIN 5101
#define IDC_COLOR_RGB 5088
#define IDC_COLOR_YUV 5089
#define IDC_SHOW_R 5082
#define IDC_SHOW_G 5083
#define IDC_SHOW_B 5084
#define IDC_SHOW_Y 5085
#define IDC_SHOW_U 5086
#define IDC_SHOW_V 5087
#define IDC_MEASURE_ADD 5071
#define IDC_MEASURE_CLEAR 5070
#define IDC_MEASURE_COUNT 5069
#define IDC_MEASURE_SAVE 5068

// The pages (templates 5006, 5007, 5008).
#define IDC_PLOT_FRAME 5078
#define IDC_STYLE_COMBO 5080
#define IDC_WINDOW_COMBO 5079
#define IDC_SENSITIVITY_EDIT 5091
#define IDC_SENSITIVITY_SPIN 5092
#define IDC_WHITE_EDIT 5052
#define IDC_WHITE_SPIN 5056
#define IDC_BLACK_EDIT 5053
#define IDC_BLACK_SPIN 5058
#define IDC_START_EDIT 5055
#define IDC_START_SPIN 5060
#define IDC_STOP_EDIT 5061
#define IDC_STOP_SPIN 5062
#define IDC_SNR_FIRST 5063
#define IDC_SNR_SECOND 5064
#define IDC_SNR_THIRD 5065
