// The program's own texts, for the engine, the skin and the window alike.
// The Chinese ones are GBK bytes, exactly as they are shown; the window
// converts them from code page 936 when drawing.
#pragma once

namespace qv::texts {

inline constexpr char kDefaultTitle[] = "\xB0\xB2\xD7\xB0\xB3\xCC\xD0\xF2";  // 安装程序
inline constexpr char kDefaultHref[] = "qvSetup,https://qvsetup.example.org/";
inline constexpr char kRegister[] = "Register...";
inline constexpr char kExecute[] = "Execute command ...";
inline constexpr char kFinished[] = "OK...\xCD\xEA\xB3\xC9\xB0\xB2\xD7\xB0";  // OK...完成安装
inline constexpr char kOk[] = "\xC8\xB7\xB6\xA8";                           // 确定
inline constexpr char kCancel[] = "\xC8\xA1\xCF\xFB";                       // 取消
inline constexpr char kAbort[] = "\xD6\xD5\xD6\xB9";                        // 终止
inline constexpr char kRetry[] = "\xD6\xD8\xCA\xD4";                        // 重试
inline constexpr char kIgnore[] = "\xBA\xF6\xC2\xD4";                       // 忽略
inline constexpr char kYes[] = "\xCA\xC7";                                  // 是
inline constexpr char kNo[] = "\xB7\xF1";                                   // 否
inline constexpr char kClose[] = "\xB9\xD8\xB1\xD5";                        // 关闭
inline constexpr char kDialogCaption[] = "\xB6\xD4\xBB\xB0\xBF\xF2";          // 对话框
inline constexpr char kPromptBefore[] = "\xC7\xEB\xCA\xE4\xC8\xEB";         // 请输入
inline constexpr char kPromptAfter[] =
    "\xB5\xC4\xB0\xB2\xD7\xB0\xC2\xB7\xBE\xB6...";                          // 的安装路径...
inline constexpr char kDecompressing[] = "Decompressing ";
inline constexpr char kWarning[] = "\xBE\xAF\xB8\xE6";                      // 警告
inline constexpr char kEmptyPath[] =
    "\xB0\xB2\xD7\xB0\xC4\xBF\xC2\xBC\xB2\xBB\xC4\xDC\xCE\xAA\xBF\xD5";     // 安装目录不能为空
inline constexpr char kQuitQuestion[] =
    "\xB0\xB2\xD7\xB0\xC9\xD0\xCE\xB4\xBD\xE1\xCA\xF8\xA3\xAC"
    "\xCA\xC7\xB7\xF1\xC1\xA2\xBC\xB4\xCD\xCB\xB3\xF6?";                    // 安装尚未结束，是否立即退出?
inline constexpr char kNotFinished[] =
    "\xB0\xB2\xD7\xB0\xC9\xD0\xCE\xB4\xBD\xE1\xCA\xF8";  // 安装尚未结束
inline constexpr char kAboutCaption[] = "\xB9\xD8\xD3\xDA...";              // 关于...
// Program and version, web address, author and date, an empty line between.
inline constexpr char kAboutText[] =
    "qvSetup 1.0\r\rhttps://qvsetup.example.org/\r\rThe qvSetup developers, 2026-12";
inline constexpr char kBrowseTitle[] =
    "\xC7\xEB\xD1\xA1\xD4\xF1\xB0\xB2\xD7\xB0\xCE\xC4\xBC\xFE\xBC\xD0";     // 请选择安装文件夹
inline constexpr char kVisitSite[] = "\xB7\xC3\xCE\xCA\xCD\xF8\xD5\xBE ";   // "访问网站 "
inline constexpr char kBadOption[] =
    "\xC3\xFC\xC1\xEE\xD0\xD0\xB2\xCE\xCA\xFD\xCE\xDE\xD0\xA7\xA3\xBA";  // 命令行参数无效：
inline constexpr char kFontName[] = "\xCB\xCE\xCC\xE5";                     // 宋体

}  // namespace qv::texts
