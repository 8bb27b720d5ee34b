// Resource ids of Zorvane.rc, shared by the resource script and the code.
#pragma once

#define IDI_MAIN 128
#define IDD_CONTROLLER_DIALOG 102

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDC_OPENPORT 1000
#define IDC_SET_POWER 1001
#define IDC_SET_CHANNEL 1002
#define IDC_PORTLIST 1003
#define IDC_ACTIVE 1004
#define IDC_POWER_EDIT 1005
#define IDC_WAVELENGTH 1006
#define IDC_CHANNEL_EDIT 1007
#define IDC_POWER_SLIDER 1008
#define IDC_FREQUENCY 1009
#define IDC_ITLA_CHANNEL 1010
#define IDC_CHANNEL_SLIDER 1011
#define IDC_POWER_DOWN 1013
#define IDC_POWER_UP 1014
#define IDC_CHANNEL_DOWN 1015
#define IDC_CHANNEL_UP 1016
#define IDC_CHANNEL_LABEL 1020
#define IDC_POWER_LABEL 1021
