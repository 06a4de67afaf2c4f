# The library's version information: one list feeds the Windows resource and the table that
# POSIX builds compile in. Values are UTF-8 here and GBK in the built library.
set(KORVEL_FILE_VERSION 4 8 3 0)
set(KORVEL_VERSION_LANGUAGE 0x0804)
set(KORVEL_VERSION_CODEPAGE 0x03A8)
set(KORVEL_VERSION_STRINGS
  "CompanyName="
  "FileDescription=Korvel智能模块通讯驱动程序β版"
  "FileVersion=4.8.3.0"
  "InternalName=Korvel智能模块通讯驱动程序α版"
  "LegalCopyright="
  "LegalTrademarks="
  "OriginalFilename=KORVELPLNK.DLL"
  "ProductName=Korvel智能模块通讯驱动程序"
  "ProductVersion=2.0.8.0"
  "Comments="
  "DeviceName=Korvel智能模块"
  "DevTypeName=智能模块"
  "DevIDName=设备号"
  "ChName=通道"
  "ChIDName=通道地址"
  "BitName=位"
  "BitIDName=位号")
