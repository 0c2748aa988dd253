/*
 * The self-extractor's Windows front end. The program reads its own file:
 * the configuration block behind its image says what to show and propose,
 * the zip archive behind the block is extracted with the portable core.
 *
 * Order of events: the message (if any, with its OK/Cancel or Yes/No
 * buttons), the dialog with the target folder (unless the program runs
 * automatically), the extraction with password and overwrite questions, the
 * closing message, and the command line (if any).
 *
 * Exit status: 0 done, 1 entries failed, 2 no usable archive, 3 cancelled.
 */
#define WIN32_LEAN_AND_MEAN
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>
/* the others need windows.h first */
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <stdlib.h>
#include <string.h>

#include "resource.h"
#include "sfx_config.h"
#include "sfx_extract.h"
#include "sfx_result.h"
#include "sfx_zip.h"
#include "sfxblock.h"

#define PATH_CHARS 32768

static const wchar_t kDefaultCaption[] = L"Selbstentpackendes Archiv";

typedef struct App {
    HANDLE file;
    SfxConfig config;
    SfxArchive archive;
    wchar_t* caption;
    wchar_t* module; /* path of this program */
    wchar_t folder[MAX_PATH * 4];
    wchar_t* root; /* "\\?\" form of the target folder, while extracting */
    size_t root_len;
    wchar_t* scratch; /* root + relative path */
    HANDLE out;       /* the file being written */
    HWND dialog;      /* the main dialog, NULL when running automatically */
    int run_command;
    int running;
    int cancel;
    int result;
    SfxRun run;
} App;

static App g_app;

/* ---- text helpers ---- */

static wchar_t* widen(const char* utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, NULL, 0);
    wchar_t* w = (wchar_t*)malloc((size_t)(n > 0 ? n : 1) * sizeof(wchar_t));
    if (w == NULL) {
        return NULL;
    }
    if (n <= 0 || MultiByteToWideChar(CP_UTF8, 0, utf8, -1, w, n) <= 0) {
        w[0] = 0;
    }
    return w;
}

/* A copy of `s` with %NAME% expanded when the option asks for it. */
static wchar_t* expand(const wchar_t* s) {
    DWORD n;
    wchar_t* out;
    if ((g_app.config.flags & SFX_OPT_EXPAND_VARS) == 0) {
        return _wcsdup(s);
    }
    n = ExpandEnvironmentStringsW(s, NULL, 0);
    out = (wchar_t*)malloc((n + 1) * sizeof(wchar_t));
    if (out != NULL && ExpandEnvironmentStringsW(s, out, n + 1) == 0) {
        wcscpy(out, s);
    }
    return out;
}

static int message(const wchar_t* text, UINT type) {
    return MessageBoxW(g_app.dialog, text, g_app.caption, type | MB_SETFOREGROUND);
}

/* ---- reading our own file ---- */

static int read_at(void* ctx, uint64_t offset, void* buf, size_t size) {
    HANDLE h = *(HANDLE*)ctx;
    LARGE_INTEGER pos;
    unsigned char* p = (unsigned char*)buf;
    pos.QuadPart = (LONGLONG)offset;
    if (!SetFilePointerEx(h, pos, NULL, FILE_BEGIN)) {
        return SFX_E_READ;
    }
    while (size > 0) {
        DWORD want = size > 0x100000u ? 0x100000u : (DWORD)size, got = 0;
        if (!ReadFile(h, p, want, &got, NULL) || got == 0) {
            return SFX_E_READ;
        }
        p += got;
        size -= got;
    }
    return SFX_OK;
}

/* ---- the default folder ---- */

/* "HKCU\Software\X\Value": the text of value "Value" of key "Software\X". */
static wchar_t* registry_folder(const wchar_t* spec) {
    static const struct {
        const wchar_t* prefix;
        HKEY root;
    } kRoots[] = {{L"HKCU\\", HKEY_CURRENT_USER},
                  {L"HKLM\\", HKEY_LOCAL_MACHINE},
                  {L"HKEY_CURRENT_USER\\", HKEY_CURRENT_USER},
                  {L"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE}};
    size_t i;
    for (i = 0; i < sizeof kRoots / sizeof kRoots[0]; ++i) {
        const size_t n = wcslen(kRoots[i].prefix);
        if (_wcsnicmp(spec, kRoots[i].prefix, n) == 0) {
            wchar_t* key = _wcsdup(spec + n);
            wchar_t* value;
            wchar_t data[MAX_PATH * 2];
            DWORD size = sizeof data - sizeof(wchar_t), type = 0;
            HKEY h;
            LONG rc;
            if (key == NULL || (value = wcsrchr(key, L'\\')) == NULL) {
                free(key);
                return NULL;
            }
            *value++ = 0;
            rc = RegOpenKeyExW(kRoots[i].root, key, 0, KEY_QUERY_VALUE, &h);
            free(key);
            if (rc != ERROR_SUCCESS) {
                return NULL;
            }
            rc = RegQueryValueExW(h, value, NULL, &type, (BYTE*)data, &size);
            RegCloseKey(h);
            if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size < 2) {
                return NULL;
            }
            data[size / sizeof(wchar_t)] = 0;
            return _wcsdup(data);
        }
    }
    return (wchar_t*)-1; /* not a registry reference */
}

static void propose_folder(void) {
    wchar_t* dir = widen(g_app.config.text[SFX_STR_DEFAULT_DIR]);
    wchar_t* chosen = NULL;
    if (dir != NULL && dir[0] != 0) {
        wchar_t* reg = registry_folder(dir);
        if (reg == (wchar_t*)-1) {
            chosen = expand(dir);
        } else if (reg != NULL) {
            chosen = expand(reg);
            free(reg);
        } else {
            wchar_t* fallback = widen(g_app.config.text[SFX_STR_REG_FAIL_PATH]);
            if (fallback != NULL && fallback[0] != 0) {
                chosen = expand(fallback);
            }
            free(fallback);
        }
    }
    free(dir);
    if (chosen != NULL && chosen[0] != 0) {
        lstrcpynW(g_app.folder, chosen, sizeof g_app.folder / sizeof(wchar_t));
    } else {
        /* the folder of the program */
        wchar_t* slash;
        lstrcpynW(g_app.folder, g_app.module, sizeof g_app.folder / sizeof(wchar_t));
        slash = wcsrchr(g_app.folder, L'\\');
        if (slash != NULL) {
            *slash = 0;
        }
    }
    free(chosen);
}

/* ---- the file system below the target folder ---- */

static const wchar_t* target_path(const char* rel) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, rel, -1, g_app.scratch + g_app.root_len,
                                      (int)(PATH_CHARS - g_app.root_len));
    wchar_t* p;
    if (n <= 0) {
        return NULL;
    }
    for (p = g_app.scratch + g_app.root_len; *p != 0; ++p) {
        if (*p == L'/') {
            *p = L'\\';
        }
    }
    return g_app.scratch;
}

static int host_exists(void* ctx, const char* rel) {
    const wchar_t* p = target_path(rel);
    DWORD a;
    (void)ctx;
    if (p == NULL || (a = GetFileAttributesW(p)) == INVALID_FILE_ATTRIBUTES) {
        return SFX_PATH_NONE;
    }
    if ((a & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return SFX_PATH_OTHER; /* links and junctions could lead outside the target */
    }
    return (a & FILE_ATTRIBUTE_DIRECTORY) != 0 ? SFX_PATH_DIR : SFX_PATH_FILE;
}

static int host_make_dir(void* ctx, const char* rel) {
    const wchar_t* p = target_path(rel);
    DWORD a;
    (void)ctx;
    if (p == NULL) {
        return SFX_E_NAME;
    }
    if (CreateDirectoryW(p, NULL)) {
        return SFX_OK;
    }
    a = GetFileAttributesW(p);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                   (a & FILE_ATTRIBUTE_REPARSE_POINT) == 0
               ? SFX_OK
               : SFX_E_WRITE;
}

static void* host_create_file(void* ctx, const char* rel) {
    const wchar_t* p = target_path(rel);
    (void)ctx;
    if (p == NULL) {
        return NULL;
    }
    SetFileAttributesW(p, FILE_ATTRIBUTE_NORMAL); /* a read-only file may be replaced too */
    g_app.out = CreateFileW(p, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    return g_app.out == INVALID_HANDLE_VALUE ? NULL : &g_app.out;
}

static int host_write_file(void* ctx, void* file, const unsigned char* buf, size_t size) {
    const HANDLE h = *(const HANDLE*)file;
    (void)ctx;
    while (size > 0) {
        DWORD done = 0;
        if (!WriteFile(h, buf, (DWORD)(size > 0x100000u ? 0x100000u : size), &done, NULL) ||
            done == 0) {
            return SFX_E_WRITE;
        }
        buf += done;
        size -= done;
    }
    return SFX_OK;
}

static int host_close_file(void* ctx, void* file, const char* rel, int keep, uint32_t dos_datetime,
                           uint32_t attrs, uint16_t version_made) {
    HANDLE* h = (HANDLE*)file;
    const unsigned host_system = version_made >> 8;
    const wchar_t* p;
    FILETIME local, utc;
    int rc = SFX_OK;
    (void)ctx;
    if (keep && DosDateTimeToFileTime((WORD)(dos_datetime >> 16), (WORD)dos_datetime, &local) &&
        LocalFileTimeToFileTime(&local, &utc)) {
        SetFileTime(*h, NULL, NULL, &utc);
    }
    if (!CloseHandle(*h)) {
        rc = SFX_E_WRITE;
    }
    *h = INVALID_HANDLE_VALUE;
    p = target_path(rel); /* the same name that made the file */
    if (p == NULL) {
        return SFX_E_WRITE;
    }
    if (!keep || rc != SFX_OK) {
        DeleteFileW(p);
    } else if (host_system == 0 || host_system == 10 || host_system == 11 || host_system == 14) {
        /* attributes written by DOS, NTFS and Windows tools: read-only, hidden, system, archive */
        const DWORD a = attrs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                 FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
        if (a != 0) {
            SetFileAttributesW(p, a);
        }
    }
    return rc;
}

/* ---- questions ---- */

typedef struct Question {
    const char* path;
    int attempt;
    char* answer;
    size_t capacity;
} Question;

static void set_label(HWND dlg, int id, const wchar_t* before, const char* path,
                      const wchar_t* after) {
    wchar_t* name = widen(path);
    size_t n = wcslen(before) + (name ? wcslen(name) : 0) + wcslen(after) + 1;
    wchar_t* text = (wchar_t*)malloc(n * sizeof(wchar_t));
    if (text != NULL) {
        wcscpy(text, before);
        if (name != NULL) {
            wcscat(text, name);
        }
        wcscat(text, after);
        SetDlgItemTextW(dlg, id, text);
    }
    free(text);
    free(name);
}

static INT_PTR CALLBACK password_proc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    Question* q = (Question*)GetWindowLongPtrW(dlg, DWLP_USER);
    if (msg == WM_INITDIALOG) {
        q = (Question*)lp;
        SetWindowLongPtrW(dlg, DWLP_USER, lp);
        set_label(dlg, IDC_PW_LABEL,
                  q->attempt > 1 ? L"Falsches Kennwort. Kennwort für \"" : L"Kennwort für \"",
                  q->path, L"\":");
        SendDlgItemMessageW(dlg, IDC_PASSWORD, EM_LIMITTEXT, SFX_PASSWORD_MAX / 2 - 1, 0);
        return TRUE;
    }
    if (msg == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
        if (LOWORD(wp) == IDOK) {
            wchar_t w[SFX_PASSWORD_MAX / 2];
            GetDlgItemTextW(dlg, IDC_PASSWORD, w, SFX_PASSWORD_MAX / 2);
            /* zip passwords are bytes; Windows tools take them in the ANSI code page */
            if (WideCharToMultiByte(CP_ACP, 0, w, -1, q->answer, (int)q->capacity, NULL, NULL) <=
                0) {
                q->answer[0] = 0;
            }
            SecureZeroMemory(w, sizeof w);
        }
        EndDialog(dlg, LOWORD(wp));
        return TRUE;
    }
    return FALSE;
}

static int host_ask_password(void* ctx, const char* path, int attempt, char* buf, size_t capacity) {
    Question q;
    (void)ctx;
    q.path = path;
    q.attempt = attempt;
    q.answer = buf;
    q.capacity = capacity;
    switch (DialogBoxParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_PASSWORD), g_app.dialog,
                            password_proc, (LPARAM)&q)) {
        case IDOK:
            return buf[0] != 0;
        case IDCANCEL:
            /* "Abbrechen" ends the run, as in the overwrite question, instead of
               asking again for every further encrypted entry */
            g_app.cancel = 1;
            return 0;
        default:
            return 0;
    }
}

static INT_PTR CALLBACK overwrite_proc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        set_label(dlg, IDC_OVR_LABEL, L"Die Datei \"", (const char*)lp,
                  L"\" ist schon vorhanden.\nSoll sie ersetzt werden?");
        SetWindowTextW(dlg, g_app.caption);
        return TRUE;
    }
    if (msg == WM_COMMAND) {
        switch (LOWORD(wp)) {
            case IDYES:
                EndDialog(dlg, SFX_ASK_YES);
                return TRUE;
            case IDNO:
                EndDialog(dlg, SFX_ASK_NO);
                return TRUE;
            case IDC_YES_ALL:
                EndDialog(dlg, SFX_ASK_YES_ALL);
                return TRUE;
            case IDC_NO_ALL:
                EndDialog(dlg, SFX_ASK_NO_ALL);
                return TRUE;
            case IDCANCEL:
                EndDialog(dlg, SFX_ASK_CANCEL);
                return TRUE;
            default:
                break;
        }
    }
    return FALSE;
}

static int host_ask_overwrite(void* ctx, const char* path) {
    (void)ctx;
    return (int)DialogBoxParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_OVERWRITE),
                                g_app.dialog, overwrite_proc, (LPARAM)path);
}

/* ---- progress ---- */

static void pump(void) {
    MSG msg;
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
        if (g_app.dialog == NULL || !IsDialogMessageW(g_app.dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

static int host_progress(void* ctx, const char* path, uint64_t index, uint64_t count) {
    (void)ctx;
    if (g_app.dialog != NULL) {
        wchar_t* name = widen(path);
        SendDlgItemMessageW(g_app.dialog, IDC_PROGRESS, PBM_SETRANGE32, 0,
                            (LPARAM)(count > 0x7FFFFFFF ? 0x7FFFFFFF : count));
        SendDlgItemMessageW(g_app.dialog, IDC_PROGRESS, PBM_SETPOS, (WPARAM)index, 0);
        if (name != NULL) {
            SetDlgItemTextW(g_app.dialog, IDC_STATUS, name);
        }
        free(name);
        pump();
    }
    return g_app.cancel;
}

/* ---- extraction ---- */

/* Creates the target folder with its parents; `path` may have the "\\?\"
   prefix and a trailing backslash. */
static int create_folder(const wchar_t* path) {
    wchar_t* copy = _wcsdup(path);
    wchar_t* p;
    size_t n;
    DWORD a;
    if (copy == NULL) {
        return 0;
    }
    n = wcslen(copy);
    if (n > 1 && copy[n - 1] == L'\\' && copy[n - 2] != L':') {
        copy[n - 1] = 0;
    }
    for (p = copy + (wcsncmp(copy, L"\\\\?\\", 4) == 0 ? 4 : 1); *p != 0; ++p) {
        if (*p == L'\\' && p[-1] != L':' && p[-1] != L'\\') {
            *p = 0;
            CreateDirectoryW(copy, NULL);
            *p = L'\\';
        }
    }
    CreateDirectoryW(copy, NULL);
    a = GetFileAttributesW(copy);
    free(copy);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

/* Sets root to the "\\?\" form of the full target path: long names work and
   no part of an entry name is taken as a device name. */
static int prepare_root(void) {
    wchar_t full[PATH_CHARS / 2];
    const DWORD n = GetFullPathNameW(g_app.folder, PATH_CHARS / 2, full, NULL);
    size_t len;
    if (n == 0 || n >= PATH_CHARS / 2) {
        return 0;
    }
    free(g_app.scratch);
    g_app.scratch = (wchar_t*)malloc(PATH_CHARS * sizeof(wchar_t));
    if (g_app.scratch == NULL) {
        return 0;
    }
    if (full[0] == L'\\' && full[1] == L'\\') {
        wcscpy(g_app.scratch, L"\\\\?\\UNC");
        wcscat(g_app.scratch, full + 1);
    } else {
        wcscpy(g_app.scratch, L"\\\\?\\");
        wcscat(g_app.scratch, full);
    }
    len = wcslen(g_app.scratch);
    if (g_app.scratch[len - 1] != L'\\') {
        g_app.scratch[len++] = L'\\';
        g_app.scratch[len] = 0;
    }
    g_app.root_len = len;
    return 1;
}

static void run_command(void) {
    wchar_t* raw = widen(g_app.config.text[SFX_STR_COMMAND_LINE]);
    wchar_t* cmd;
    wchar_t *file, *params = NULL;
    SHELLEXECUTEINFOW sei;
    size_t need;
    const wchar_t* s;
    wchar_t* d;
    if (raw == NULL || raw[0] == 0) {
        free(raw);
        return;
    }
    /* "><" stands for the target folder */
    need = wcslen(raw) + 1;
    for (s = raw; (s = wcsstr(s, L"><")) != NULL; s += 2) {
        need += wcslen(g_app.folder);
    }
    cmd = (wchar_t*)malloc(need * sizeof(wchar_t));
    if (cmd == NULL) {
        free(raw);
        return;
    }
    for (s = raw, d = cmd; *s != 0;) {
        if (s[0] == L'>' && s[1] == L'<') {
            wcscpy(d, g_app.folder);
            d += wcslen(d);
            s += 2;
        } else {
            *d++ = *s++;
        }
    }
    *d = 0;
    free(raw);
    raw = expand(cmd);
    free(cmd);
    if (raw == NULL) {
        return;
    }
    /* program (quoted or up to the first blank), then its parameters */
    file = raw;
    if (*file == L'"') {
        ++file;
        params = wcschr(file, L'"');
    } else {
        params = wcschr(file, L' ');
    }
    if (params != NULL) {
        *params++ = 0;
        while (*params == L' ') {
            ++params;
        }
    }
    SetCurrentDirectoryW(g_app.folder);
    memset(&sei, 0, sizeof sei);
    sei.cbSize = sizeof sei;
    sei.fMask = SEE_MASK_NOASYNC;
    sei.hwnd = g_app.dialog;
    sei.lpFile = file;
    sei.lpParameters = params;
    sei.lpDirectory = g_app.folder;
    sei.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&sei)) {
        message(L"Das Programm nach dem Entpacken konnte nicht gestartet werden.", MB_ICONWARNING);
    }
    free(raw);
}

static void extract(void) {
    SfxHost host;
    int rc;
    wchar_t text[200];
    memset(&host, 0, sizeof host);
    host.exists = host_exists;
    host.make_dir = host_make_dir;
    host.create_file = host_create_file;
    host.write_file = host_write_file;
    host.close_file = host_close_file;
    host.ask_overwrite = host_ask_overwrite;
    host.ask_password = host_ask_password;
    host.progress = host_progress;
    /* created through its "\\?\" form: a target deeper than MAX_PATH works too */
    if (!prepare_root() || !create_folder(g_app.scratch)) {
        message(L"Der Zielordner kann nicht angelegt werden.", MB_ICONERROR);
        g_app.result = 1;
        return;
    }
    g_app.run.create_empty_dirs = (g_app.config.flags & SFX_OPT_CREATE_EMPTY_DIRS) != 0;
    g_app.running = 1;
    rc = sfx_extract_all(&g_app.archive, &host, &g_app.run);
    g_app.running = 0;
    if (g_app.dialog != NULL) {
        SendDlgItemMessageW(
            g_app.dialog, IDC_PROGRESS, PBM_SETPOS,
            (WPARAM)(g_app.archive.count > 0x7FFFFFFF ? 0x7FFFFFFF : g_app.archive.count), 0);
    }
    if (rc == SFX_E_CANCEL || g_app.cancel) {
        g_app.result = 3;
        message(L"Das Entpacken wurde abgebrochen.", MB_ICONWARNING);
        return;
    }
    if (g_app.run.failed > 0 && (g_app.config.flags & SFX_OPT_SUCCESS_ALWAYS) == 0) {
        g_app.result = 1;
        wsprintfW(text,
                  L"%lu Datei(en) entpackt, %lu nicht entpackt (beschädigt, falsches Kennwort "
                  L"oder nicht schreibbar), %lu übersprungen.",
                  (unsigned long)g_app.run.extracted, (unsigned long)g_app.run.failed,
                  (unsigned long)g_app.run.skipped);
        message(text, MB_ICONERROR);
        return;
    }
    g_app.result = 0;
    if ((g_app.config.flags & SFX_OPT_NO_SUCCESS_MSG) == 0) {
        wsprintfW(text, L"%lu Datei(en) entpackt, %lu übersprungen.",
                  (unsigned long)g_app.run.extracted, (unsigned long)g_app.run.skipped);
        message(text, MB_ICONINFORMATION);
    }
    if (g_app.run_command) {
        run_command();
    }
}

/* ---- the main dialog ---- */

static void browse(HWND dlg) {
    BROWSEINFOW bi;
    wchar_t name[MAX_PATH];
    PIDLIST_ABSOLUTE pidl;
    memset(&bi, 0, sizeof bi);
    bi.hwndOwner = dlg;
    bi.pszDisplayName = name;
    bi.lpszTitle = L"Zielordner wählen";
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    pidl = SHBrowseForFolderW(&bi);
    if (pidl != NULL) {
        if (SHGetPathFromIDListW(pidl, name)) {
            SetDlgItemTextW(dlg, IDC_FOLDER, name);
        }
        CoTaskMemFree(pidl);
    }
}

static void set_running(HWND dlg, int running) {
    static const int kIds[] = {
        IDC_FOLDER, IDC_BROWSE, IDC_OVR_ALWAYS, IDC_OVR_NEVER, IDC_OVR_CONFIRM, IDC_RUN, IDOK};
    size_t i;
    for (i = 0; i < sizeof kIds / sizeof kIds[0]; ++i) {
        EnableWindow(GetDlgItem(dlg, kIds[i]), !running);
    }
    if ((g_app.config.flags & SFX_OPT_NO_CANCEL) != 0) {
        EnableWindow(GetDlgItem(dlg, IDCANCEL), !running);
    }
}

static INT_PTR CALLBACK main_proc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    (void)lp;
    switch (msg) {
        case WM_INITDIALOG: {
            const unsigned ovr = g_app.config.overwrite;
            g_app.dialog = dlg;
            SetWindowTextW(dlg, g_app.caption);
            SendMessageW(dlg, WM_SETICON, ICON_BIG,
                         (LPARAM)LoadIconW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDI_APP)));
            SetDlgItemTextW(dlg, IDC_FOLDER, g_app.folder);
            CheckRadioButton(dlg, IDC_OVR_ALWAYS, IDC_OVR_CONFIRM,
                             ovr == SFX_OVR_ALWAYS  ? IDC_OVR_ALWAYS
                             : ovr == SFX_OVR_NEVER ? IDC_OVR_NEVER
                                                    : IDC_OVR_CONFIRM);
            if ((g_app.config.flags & SFX_OPT_HIDE_OVERWRITE) != 0) {
                static const int kHide[] = {IDC_OVR_GROUP, IDC_OVR_ALWAYS, IDC_OVR_NEVER,
                                            IDC_OVR_CONFIRM};
                size_t i;
                for (i = 0; i < 4; ++i) {
                    ShowWindow(GetDlgItem(dlg, kHide[i]), SW_HIDE);
                }
            }
            if (g_app.config.text[SFX_STR_COMMAND_LINE][0] != 0 &&
                (g_app.config.flags & SFX_OPT_ASK_CMDLINE) != 0) {
                set_label(dlg, IDC_RUN, L"Danach ausführen: ",
                          g_app.config.text[SFX_STR_COMMAND_LINE], L"");
                CheckDlgButton(dlg, IDC_RUN, BST_CHECKED);
            } else {
                ShowWindow(GetDlgItem(dlg, IDC_RUN), SW_HIDE);
            }
            SetDlgItemTextW(dlg, IDC_STATUS, L"");
            return TRUE;
        }
        case WM_COMMAND:
            switch (LOWORD(wp)) {
                case IDC_BROWSE:
                    browse(dlg);
                    return TRUE;
                case IDOK:
                    if (g_app.running) {
                        return TRUE;
                    }
                    GetDlgItemTextW(dlg, IDC_FOLDER, g_app.folder,
                                    sizeof g_app.folder / sizeof(wchar_t));
                    if (g_app.folder[0] == 0) {
                        message(L"Bitte einen Zielordner angeben.", MB_ICONWARNING);
                        return TRUE;
                    }
                    g_app.run.overwrite = IsDlgButtonChecked(dlg, IDC_OVR_ALWAYS) ? SFX_OVR_ALWAYS
                                          : IsDlgButtonChecked(dlg, IDC_OVR_NEVER)
                                              ? SFX_OVR_NEVER
                                              : SFX_OVR_CONFIRM;
                    if ((g_app.config.flags & SFX_OPT_HIDE_OVERWRITE) != 0) {
                        g_app.run.overwrite = g_app.config.overwrite;
                    }
                    g_app.run_command = g_app.config.text[SFX_STR_COMMAND_LINE][0] != 0 &&
                                        ((g_app.config.flags & SFX_OPT_ASK_CMDLINE) == 0 ||
                                         IsDlgButtonChecked(dlg, IDC_RUN));
                    set_running(dlg, 1);
                    extract();
                    EndDialog(dlg, IDOK);
                    return TRUE;
                case IDCANCEL:
                    if (g_app.running) {
                        if ((g_app.config.flags & SFX_OPT_NO_CANCEL) == 0) {
                            g_app.cancel = 1;
                        }
                        return TRUE;
                    }
                    g_app.result = 3;
                    EndDialog(dlg, IDCANCEL);
                    return TRUE;
                default:
                    break;
            }
            break;
        case WM_CLOSE:
            SendMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
            return TRUE;
        default:
            break;
    }
    return FALSE;
}

static int runs_automatically(void) {
    const wchar_t* name;
    if ((g_app.config.flags & SFX_OPT_AUTORUN) == 0) {
        return 0;
    }
    if ((g_app.config.flags & SFX_OPT_AUTORUN_BY_NAME) == 0) {
        return 1;
    }
    name = wcsrchr(g_app.module, L'\\');
    name = name != NULL ? name + 1 : g_app.module;
    return name[0] == L'!';
}

static int fail(const wchar_t* text) {
    message(text, MB_ICONERROR);
    return 2;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR args, int show) {
    INITCOMMONCONTROLSEX icc;
    SfxSource src;
    DWORD n;
    (void)previous;
    (void)args;
    (void)show;
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&icc);
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    g_app.caption = (wchar_t*)kDefaultCaption;

    g_app.module = (wchar_t*)malloc(PATH_CHARS * sizeof(wchar_t));
    if (g_app.module == NULL) {
        return 2;
    }
    n = GetModuleFileNameW(NULL, g_app.module, PATH_CHARS);
    if (n == 0 || n >= PATH_CHARS) {
        return fail(L"Der eigene Programmname ist nicht lesbar.");
    }
    g_app.file = CreateFileW(g_app.module, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (g_app.file == INVALID_HANDLE_VALUE) {
        return fail(L"Das Programm kann seine eigene Datei nicht lesen.");
    }
    {
        LARGE_INTEGER size;
        if (!GetFileSizeEx(g_app.file, &size)) {
            return fail(L"Das Programm kann seine eigene Datei nicht lesen.");
        }
        src.size = (uint64_t)size.QuadPart;
    }
    src.ctx = &g_app.file;
    src.read_at = read_at;
    if (sfx_read_config(&src, &g_app.config) != SFX_OK ||
        sfx_archive_open(&g_app.archive, &src, g_app.config.archive_start) != SFX_OK) {
        return fail(L"Dieses Programm enthält kein gültiges Archiv.");
    }
    if (g_app.config.text[SFX_STR_CAPTION][0] != 0) {
        wchar_t* caption = widen(g_app.config.text[SFX_STR_CAPTION]);
        if (caption != NULL) {
            g_app.caption = caption;
        }
    }
    if (g_app.config.text[SFX_STR_MESSAGE][0] != 0) {
        wchar_t* text = widen(g_app.config.text[SFX_STR_MESSAGE]);
        const UINT type =
            g_app.config.msgbox == SFX_MSGBOX_OKCANCEL || g_app.config.msgbox == SFX_MSGBOX_YESNO
                ? g_app.config.msgbox
                : MB_OK | MB_ICONINFORMATION;
        const int answer = message(text != NULL ? text : L"", type);
        free(text);
        if (answer == IDCANCEL || answer == IDNO) {
            return 3;
        }
    }
    propose_folder();
    g_app.run.overwrite = g_app.config.overwrite;
    g_app.result = 3;
    if (runs_automatically()) {
        g_app.run_command = g_app.config.text[SFX_STR_COMMAND_LINE][0] != 0;
        extract();
    } else {
        DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), NULL, main_proc, 0);
    }
    sfx_archive_close(&g_app.archive);
    CloseHandle(g_app.file);
    return g_app.result;
}
