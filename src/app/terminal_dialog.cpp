#include "app/terminal_dialog.h"

#include <iostream>
#include <vector>

#include "app/install_info.h"
#include "engine/db_process.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/ui.h"

namespace {

// Columns a text takes on a terminal: Chinese characters take two.
size_t DisplayWidth(WStringView text) {
    size_t width = 0;
    for (char16_t c : text) {
        if ((c & 0xFC00) == 0xDC00) continue;  // the second half of a surrogate pair
        width += c < 0x1100 ? 1 : 2;
    }
    return width;
}

WString PadTo(WStringView text, size_t width) {
    WString padded(text);
    padded.append(width > DisplayWidth(text) ? width - DisplayWidth(text) : 0, u' ');
    return padded;
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

constexpr char16_t kLabelScriptToRun[] = u"将运行的脚本:";

}  // namespace

CTerminalDialog::CTerminalDialog(CDBProcess& process, const WString& strInstallDir,
                                 int bInteractive, std::istream& in, std::ostream& out)
    : CMainDialog(process, strInstallDir, bInteractive),
      m_process(process),
      m_strInstallDir(strInstallDir),
      m_bInteractive(bInteractive),
      m_in(in),
      m_out(out) {}

CTerminalDialog::~CTerminalDialog() {
    // The engine outlives the dialog: it must not keep a callback into it.
    m_process.SetProgress(nullptr);
}

bool CTerminalDialog::Create() {
    // The template's initial texts.
    m_controls[dlg::kIdVersion].text = u"未知的版本";
    m_controls[dlg::kIdSubVersion].text = u"未知的版本";
    m_controls[dlg::kIdScriptVersion].text = u"未知的版本";
    m_controls[dlg::kIdScriptPath].text.clear();
    m_controls[dlg::kIdReselect].bChecked = false;
    m_controls[dlg::kIdBrowse];

    // A silent run prints nothing; an interactive one shows the run moving.
    if (m_bInteractive) {
        m_process.SetProgress([this](const WString& line) {
            Print(u"  " + line);
            m_out.flush();
        });
    }
    m_logic.OnInitDialog();
    return true;
}

void CTerminalDialog::ShowWindow(int nCmdShow) { m_bVisible = nCmdShow != 0; }

void CTerminalDialog::RunMessageLoop() {
    std::string line;
    while (m_bVisible && !m_bCloseRequested) {
        Draw();
        if (!ReadLine(line)) {
            m_out << '\n';
            m_logic.OnQuit();  // Ctrl-D, or input that ran out
            break;
        }
        Handle(Trim(line));
    }
    m_out.flush();
}

void CTerminalDialog::Handle(const std::string& command) {
    if (command == "m") {
        Print(u"  " + WString(dlg::kMigrate) + u"...");
        m_out.flush();
        m_logic.OnMigrate();
    } else if (command == "r") {
        Control& box = m_controls[dlg::kIdReselect];
        box.bChecked = !box.bChecked;
        m_logic.OnReselect();
    } else if (command == "p") {
        // The edit takes input only while "重选" has unlocked it.
        if (!m_controls[dlg::kIdScriptPath].bEnabled) {
            Print(u"  先勾选“重选” (r)");
            return;
        }
        m_out << "  " << ToUtf8(dlg::kLabelScriptPath) << ' ' << std::flush;
        std::string typed;
        if (ReadLine(typed) && !Trim(typed).empty()) {
            WString path = plat::PathFromNativeBytes(Trim(typed));
            if (plat::HasForeignBytes(path)) {
                Print(u"  路径含有反斜杠或不是 UTF-8 的字节, 不能用: " + plat::DisplayPath(path));
                return;
            }
            // A bare name is a file of the installation folder, the only folder a script
            // is ever taken from; the working folder means nothing here.
            if (path.find(u'\\') == WString::npos) path = m_strInstallDir + u"\\" + path;
            SetItemText(dlg::kIdScriptPath, path);
        }
    } else if (command == "b") {
        if (!m_controls[dlg::kIdBrowse].bEnabled) {
            Print(u"  先勾选“重选” (r)");
            return;
        }
        m_logic.OnBrowse();
    } else if (command == "a") {
        m_logic.OnAboutBox();
    } else if (command == "q") {
        m_logic.OnQuit();
    } else if (!command.empty()) {
        Print(u"  未知的操作: " + FromUtf8(command));
    }
}

void CTerminalDialog::Draw() {
    auto field = [&](const char16_t* label, int nId) {
        Print(u"  " + PadTo(label, 20) + m_controls[nId].text);
    };
    const Control& path = m_controls[dlg::kIdScriptPath];
    const Control& box = m_controls[dlg::kIdReselect];
    const bool bUnlocked = path.bEnabled;

    m_out << '\n';
    Print(dlg::kTitle);
    field(dlg::kLabelVersion, dlg::kIdVersion);
    field(dlg::kLabelSubVersion, dlg::kIdSubVersion);
    field(dlg::kLabelScriptVersion, dlg::kIdScriptVersion);
    Print(u"  " + PadTo(dlg::kLabelScriptPath, 20) + plat::DisplayPath(path.text));
    // What "数据迁移" would run now: the edit may name a file that does not exist.
    const WString script = m_logic.ScriptToRun();
    Print(u"  " + PadTo(kLabelScriptToRun, 20) +
          (script.empty() ? WString(u"(没有)") : plat::DisplayPath(script)));
    Print(WString(u"  [") + (box.bChecked ? u'x' : u' ') + u"] " + dlg::kReselect);
    Print(u"  m " + WString(dlg::kMigrate) + u"   r " + dlg::kReselect +
          (bUnlocked ? u"   p 输入路径   b " + WString(dlg::kBrowse) : WString()) +
          u"   a 关于   q " + dlg::kQuit);
    m_out << "> " << std::flush;
}

void CTerminalDialog::SetItemText(int nId, const WString& text) { m_controls[nId].text = text; }

WString CTerminalDialog::GetItemText(int nId) const {
    auto found = m_controls.find(nId);
    return found == m_controls.end() ? WString() : found->second.text;
}

void CTerminalDialog::EnableItem(int nId, bool bEnable) { m_controls[nId].bEnabled = bEnable; }

bool CTerminalDialog::IsItemChecked(int nId) const {
    auto found = m_controls.find(nId);
    return found != m_controls.end() && found->second.bChecked;
}

void CTerminalDialog::PostClose() { m_bCloseRequested = true; }

bool CTerminalDialog::BrowseForScript(const WString& folder, WString& path) {
    m_out << "  文件夹 [" << ToUtf8(plat::DisplayPath(folder)) << "]: " << std::flush;
    std::string line;
    if (!ReadLine(line)) return false;
    WString chosen = Trim(line).empty() ? folder : plat::PathFromNativeBytes(Trim(line));
    while (chosen.size() > 1 && chosen.back() == u'\\')
        chosen.pop_back();

    // What the file dialog's first filter shows, in the order discovery ranks them (which is
    // Explorer's on NTFS): scripts, not folders, not hidden files.
    const std::vector<WString> names = install::VisibleScripts(chosen);
    if (names.empty()) {
        Print(u"  (没有 *.dbr 文件)");
        return false;
    }
    for (size_t i = 0; i < names.size(); ++i)
        Print(u"  " + wstr::FromInt(static_cast<long long>(i + 1)) + u"  " + names[i]);
    m_out << "  编号 [Enter: 取消]: " << std::flush;
    if (!ReadLine(line)) return false;
    const int n = wstr::ToInt(Trim(line));
    if (n < 1 || static_cast<size_t>(n) > names.size()) return false;
    path = (chosen == u"\\" ? WString() : chosen) + u"\\" + names[static_cast<size_t>(n - 1)];
    return true;
}

void CTerminalDialog::ShowAboutBox() {
    m_out << '\n';
    Print(u"  ── " + WString(dlg::kAboutTitle) + u" ──");
    Print(u"  " + WString(dlg::kAboutVersion));
    Print(u"  " + WString(dlg::kAboutText));
    m_out << "  [" << ToUtf8(dlg::kAboutOk) << ": Enter] " << std::flush;
    std::string line;
    ReadLine(line);
}

bool CTerminalDialog::ReadLine(std::string& line) {
    return static_cast<bool>(std::getline(m_in, line));
}

void CTerminalDialog::Print(const WString& text) { m_out << ToUtf8(text) << '\n'; }
