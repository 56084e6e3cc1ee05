#include "ui/win32/winqor_dlg.h"

#include "ui/ui.h"
#include "ui/win32/about_dlg.h"
#include "ui/win32/choosers.h"
#include "ui/win32/resource.h"
#include "ui/window_menu.h"

namespace winqor {
namespace {

// The resource script needs the id as a macro; it is the shared menu's command all the same.
static_assert(IDM_ABOUTBOX == kAboutBoxCommand);

// The string resource's text, empty when it is missing.
std::wstring LoadResourceString(UINT id) {
    const wchar_t* text = nullptr;
    // With no room given, LoadStringW points at the resource's own text.
    const int length =
        LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 ? std::wstring(text, length) : std::wstring();
}

// The first file of a drop; empty when there is none.
std::u16string FirstDroppedFile(HDROP drop) {
    const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
    if (length == 0) return {};
    std::wstring name(length + 1, L'\0');
    name.resize(DragQueryFileW(drop, 0, name.data(), length + 1));
    return FromWide(name);
}

}  // namespace

CWinQORDlg::CWinQORDlg(CDialog* parent)
    : CDialog(IDD_MAIN_DIALOG, parent),
      m_hIcon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

void CWinQORDlg::DoDataExchange(CDataExchange& dx) {
    DDX_Text(dx, IDC_DESTINATION, m_destinationFolder);
    DDX_Text(dx, IDC_ARCHIVE_PATH, m_archivePath);
}

BOOL CWinQORDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    AddAboutEntry();
    SendMessageW(GetSafeHwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(GetSafeHwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    DragAcceptFiles(GetSafeHwnd(), TRUE);
    // The dialog manager gives the focus to the first tab stop, Extract.
    return TRUE;
}

void CWinQORDlg::AddAboutEntry() {
    const HMENU menu = GetSystemMenu(GetSafeHwnd(), FALSE);
    if (menu == nullptr) return;
    const std::wstring text = LoadResourceString(IDS_ABOUTBOX);
    if (text.empty()) return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, text.c_str());
}

// The message map: the system menu, painting, the drag icon, the browse buttons and drops.
bool CWinQORDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result) {
    switch (message) {
        case WM_SYSCOMMAND:
            return OnSysCommand(static_cast<UINT>(wParam));
        case WM_PAINT:
            return OnPaint();
        case WM_QUERYDRAGICON:
            result = reinterpret_cast<INT_PTR>(m_hIcon);
            return true;
        case WM_COMMAND:
            return OnBrowseCommand(wParam);
        case WM_DROPFILES:
            OnDropFiles(reinterpret_cast<HDROP>(wParam));
            return true;
        default:
            return false;
    }
}

void CWinQORDlg::OnOK() {
    UpdateData(true);
    Extract();
}

bool CWinQORDlg::OnSysCommand(UINT commandId) {
    if (!OpensAboutBox(commandId)) return false;
    CAboutDlg about;
    about.DoModal();
    return true;
}

bool CWinQORDlg::OnPaint() {
    if (!IsIconic(GetSafeHwnd())) return false;
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(GetSafeHwnd(), &paint);
    SendMessageW(GetSafeHwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(GetSafeHwnd(), &client);
    // Centred in the client area, rounding as the system's own icon drawing does.
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(GetSafeHwnd(), &paint);
    return true;
}

bool CWinQORDlg::OnBrowseCommand(WPARAM wParam) {
    if (HIWORD(wParam) != BN_CLICKED) return false;
    switch (LOWORD(wParam)) {
        case IDC_BROWSE_FOLDER:
            OnBrowseFolder();
            return true;
        case IDC_BROWSE_ARCHIVE:
            OnBrowseArchive();
            return true;
        default:
            return false;
    }
}

void CWinQORDlg::OnBrowseArchive() {
    UpdateData(true);
    if (BrowseArchive()) UpdateData(false);
}

void CWinQORDlg::OnBrowseFolder() {
    UpdateData(true);
    if (BrowseFolder()) UpdateData(false);
}

void CWinQORDlg::OnDropFiles(HDROP drop) {
    UpdateData(true);
    // Of several files, the first counts.
    if (OpenArchive(FirstDroppedFile(drop))) UpdateData(false);
    DragFinish(drop);
}

bool CWinQORDlg::RunPasswordDialog() {
    return AskPassword();
}

bool CWinQORDlg::ChooseArchiveFile(const std::u16string& initialFolder, std::u16string& path) {
    return winqor::ChooseArchiveFile(GetSafeHwnd(), initialFolder, path);
}

bool CWinQORDlg::ChooseFolder(const char16_t* title, std::u16string& folder) {
    return BrowseForFolder(GetSafeHwnd(), title, folder);
}

}  // namespace winqor
