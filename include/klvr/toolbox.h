/* The binary contract of the klvrVaultfetch plug-in: a C ABI over its one class, Toolbox.
 *
 * Text is UTF-8. Text and arrays returned by the plug-in belong to the caller, who frees them with
 * klvr_free_string / klvr_free_strings. Members that can fail return a klvr_status; the host reads the
 * text of a failure with klvr_status_text. Arrays passed in carry their lower bound: element n of the
 * array is items[n - lower_bound]. Abort may be called from any thread while RunP blocks another; every
 * other member runs on the caller's thread. One RunP or Props runs at a time in a process, whatever the
 * object: while one runs, a call of any member but Abort from another thread, and a second RunP or
 * Props, returns KLVR_E_BUSY. */
#ifndef KLVR_TOOLBOX_H
#define KLVR_TOOLBOX_H

#include <stdint.h>

#include "klvr/version.h" /* KLVR_VERSION_MAJOR, _MINOR, _PATCH and _STRING */

#ifdef __cplusplus
extern "C" {
#endif

#define KLVR_API __attribute__((visibility("default")))

typedef int32_t klvr_status;
#define KLVR_OK 0
#define KLVR_E_SUBSCRIPT 9        /* subscript out of range */
#define KLVR_E_DUPLICATE_KEY 457  /* key already in the collection */
#define KLVR_E_INVALID_ARGUMENT 5 /* null handle or pointer */
#define KLVR_E_CLASS_NOT_AVAILABLE 429
#define KLVR_E_FAILED 1
#define KLVR_E_BUSY 10 /* another RunP or Props is running in this process */

typedef struct klvr_toolbox klvr_toolbox;

typedef struct {
    const char* const* items;
    int32_t count;
    int32_t lower_bound;
} klvr_string_array_in;

typedef struct {
    char** items;
    int32_t count;
} klvr_strings;

typedef struct {
    char* Name;
    char* IconLarge;
    char* IconSmall;
    char* Cat;
    char* CatIconLarge;
    char* CatIconSmall;
} klvr_mod_type;

typedef struct {
    int16_t Use; /* -1 True, 0 False */
    char* Value;
} klvr_var_type;

/* Library entry points. Self-install writes the plug-in manifest into $XDG_DATA_HOME/kelvara/plugins/
 * (else ~/.local/share/kelvara/plugins/), self-remove deletes it; on failure errno says why. */
KLVR_API klvr_status klvr_register_server(void);                                        /* self-install */
KLVR_API klvr_status klvr_unregister_server(void);                                      /* self-remove */
KLVR_API klvr_status klvr_get_class_object(const char* class_name, klvr_toolbox** out); /* factory */
KLVR_API int32_t klvr_can_unload_now(void); /* 1 when no object is alive */

KLVR_API void klvr_toolbox_release(klvr_toolbox* toolbox);
KLVR_API const char* klvr_status_text(klvr_status status);
KLVR_API void klvr_free_string(char* text);
KLVR_API void klvr_free_strings(klvr_strings* strings);
KLVR_API void klvr_free_mod_type(klvr_mod_type* record);
KLVR_API void klvr_free_var_type(klvr_var_type* record);

/* Members, in the order of their slots. */
KLVR_API klvr_status klvr_SetVariables(klvr_toolbox*, const char* VarDataSource);
KLVR_API klvr_status klvr_SetVariablesShared(klvr_toolbox*, const char* VarDataSource);
KLVR_API klvr_status klvr_SetPresets(klvr_toolbox*, const char* sPresetList);
KLVR_API klvr_status klvr_UserVariableName(klvr_toolbox*, klvr_strings* out);
KLVR_API klvr_status klvr_UserVariableData(klvr_toolbox*, klvr_strings* out);
KLVR_API klvr_status klvr_AutoLog(klvr_toolbox*, int16_t value);
KLVR_API klvr_status klvr_dInstance(klvr_toolbox*, const char* value);
KLVR_API klvr_status klvr_Info(klvr_toolbox*, char** out);
KLVR_API klvr_status klvr_Author(klvr_toolbox*, char** out);
KLVR_API klvr_status klvr_Error(klvr_toolbox*, int16_t* out);
KLVR_API klvr_status klvr_Version(klvr_toolbox*, char** out);
KLVR_API klvr_status klvr_ModuleCount(klvr_toolbox*, int16_t* out);
KLVR_API klvr_status klvr_ModuleInfo(klvr_toolbox*, int16_t Index, klvr_mod_type* out);
KLVR_API klvr_status klvr_DataCount(klvr_toolbox*, int16_t* out);
KLVR_API klvr_status klvr_Data(klvr_toolbox*, int16_t Index, char** out);
KLVR_API klvr_status klvr_LocalVar(klvr_toolbox*, int16_t Index, klvr_var_type* out);
KLVR_API klvr_status klvr_GlobalVar(klvr_toolbox*, int16_t Index, klvr_var_type* out);
KLVR_API klvr_status klvr_SetLocalConstants(klvr_toolbox*, klvr_string_array_in Value);
KLVR_API klvr_status klvr_SetGlobalConstants(klvr_toolbox*, klvr_string_array_in Value);
KLVR_API klvr_status klvr_Abort(klvr_toolbox*);
KLVR_API klvr_status klvr_Props(klvr_toolbox*, const char* Module, klvr_string_array_in Data);
KLVR_API klvr_status klvr_RunP(klvr_toolbox*, const char* Module, klvr_string_array_in Data,
                               klvr_string_array_in orgData);
KLVR_API klvr_status klvr_GetInfo(klvr_toolbox*);
KLVR_API klvr_status klvr_SetDBpresets(klvr_toolbox*, const char* sPresetList);

/* Beyond the members: the progress of each file's transfer during RunP, for a host that shows it. */
typedef struct {
    uint32_t size;           /* sizeof the record as the plug-in fills it; later members go at the end */
    const char* remote_name; /* the file as the server names it (its bytes need not be UTF-8) */
    int64_t bytes_done;      /* bytes of the file received so far, a resumed part included */
    int64_t bytes_total;     /* the file's size as the server announced it; 0 when unknown */
} klvr_progress;

typedef void (*klvr_progress_callback)(const klvr_progress* progress, void* user);

/* Registers fn (NULL: none) for the RunP calls of this object. fn runs on RunP's thread while a file's
 * data flows, at most about ten times a second; the record is valid during the call only. fn should
 * return at once; of the members it may call klvr_Abort only. */
KLVR_API klvr_status klvr_toolbox_set_progress_callback(klvr_toolbox*, klvr_progress_callback fn, void* user);

/* Beyond the members: a dry run. With on set, the RunP calls of this object connect, log on, list and
 * decide for each file as a run would, and change nothing: no file or folder is made or removed locally,
 * nothing is deleted on the server, no variable is set. What each file would get is in the report. */
KLVR_API klvr_status klvr_toolbox_set_dry_run(klvr_toolbox*, int32_t on);

/* Beyond the members: what the last RunP did, as one JSON object (UTF-8; free it with klvr_free_string):
 *   "files": one record per listed entry, in listing order: "remotePath", "localPath", "size" and
 *     "remoteTime" (seconds since 1970 UTC; null when unknown), "action" ("downloaded", "resumed",
 *     "skipped" with "reason", "failed" with "error", or in a dry run "download" with "plan": "new",
 *     "overwrite" or "resume"), "resumeFrom" (bytes held before), "bytes" (moved over the network, or to
 *     be moved), "seconds", "folder" (true for a folder), "deletion" ("deleted", "kept" or "failed" with
 *     "deletionDetail", or "would delete after the download");
 *   "failureCause": why the last attempt failed: "none", "other", "connect", "logon", "tls", "not-found",
 *     "local-write" or "aborted" ("not-found" also when the named file was not listed). */
KLVR_API klvr_status klvr_toolbox_run_report(klvr_toolbox*, char** out);

/* Beyond the members: how many sessions (control connections, each logged on like the first) may fetch
 * a folder-mode run's files at once, for the RunP calls of this object; 1 to 16, 1 unless set. The log
 * reads as with one session. With more than one, the progress callback may also run on the run's other
 * threads, one call at a time. Flat mode and ZIP transfers always use one. KLVR_E_INVALID_ARGUMENT for a
 * number outside 1 to 16. */
KLVR_API klvr_status klvr_toolbox_set_parallel_sessions(klvr_toolbox*, int32_t sessions);

#ifdef __cplusplus
} /* extern "C" */

/* A thin header-only C++ wrapper over the functions above, for hosts written in C++. It calls them
 * through a table of function pointers, so it serves a host that loads the library with dlopen too. */
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace klvr::abi {

class Failure : public std::runtime_error {
  public:
    Failure(klvr_status s, const char* text) : std::runtime_error(text ? text : "failure"), status(s) {}
    klvr_status status;
};

struct Functions {
#define KLVR_FN(name) decltype(&::name) name = nullptr;
    KLVR_FN(klvr_get_class_object)
    KLVR_FN(klvr_can_unload_now)
    KLVR_FN(klvr_toolbox_release)
    KLVR_FN(klvr_status_text)
    KLVR_FN(klvr_free_string)
    KLVR_FN(klvr_free_strings)
    KLVR_FN(klvr_free_mod_type)
    KLVR_FN(klvr_free_var_type)
    KLVR_FN(klvr_SetVariables)
    KLVR_FN(klvr_SetVariablesShared)
    KLVR_FN(klvr_SetPresets)
    KLVR_FN(klvr_UserVariableName)
    KLVR_FN(klvr_UserVariableData)
    KLVR_FN(klvr_AutoLog)
    KLVR_FN(klvr_dInstance)
    KLVR_FN(klvr_Info)
    KLVR_FN(klvr_Author)
    KLVR_FN(klvr_Error)
    KLVR_FN(klvr_Version)
    KLVR_FN(klvr_ModuleCount)
    KLVR_FN(klvr_ModuleInfo)
    KLVR_FN(klvr_DataCount)
    KLVR_FN(klvr_Data)
    KLVR_FN(klvr_LocalVar)
    KLVR_FN(klvr_GlobalVar)
    KLVR_FN(klvr_SetLocalConstants)
    KLVR_FN(klvr_SetGlobalConstants)
    KLVR_FN(klvr_Abort)
    KLVR_FN(klvr_Props)
    KLVR_FN(klvr_RunP)
    KLVR_FN(klvr_GetInfo)
    KLVR_FN(klvr_SetDBpresets)
    KLVR_FN(klvr_toolbox_set_progress_callback)
    KLVR_FN(klvr_toolbox_set_dry_run)
    KLVR_FN(klvr_toolbox_run_report)
    KLVR_FN(klvr_toolbox_set_parallel_sessions)
#undef KLVR_FN

    /* Fills the table with a symbol resolver such as dlsym bound to a library handle; false when a
     * member is missing. */
    template <typename Resolve>
    bool Load(Resolve resolve) {
        bool ok = true;
#define KLVR_LOAD(name)                                             \
    do {                                                            \
        name = reinterpret_cast<decltype(&::name)>(resolve(#name)); \
        ok = ok && name != nullptr;                                 \
    } while (false)
        KLVR_LOAD(klvr_get_class_object);
        KLVR_LOAD(klvr_can_unload_now);
        KLVR_LOAD(klvr_toolbox_release);
        KLVR_LOAD(klvr_status_text);
        KLVR_LOAD(klvr_free_string);
        KLVR_LOAD(klvr_free_strings);
        KLVR_LOAD(klvr_free_mod_type);
        KLVR_LOAD(klvr_free_var_type);
        KLVR_LOAD(klvr_SetVariables);
        KLVR_LOAD(klvr_SetVariablesShared);
        KLVR_LOAD(klvr_SetPresets);
        KLVR_LOAD(klvr_UserVariableName);
        KLVR_LOAD(klvr_UserVariableData);
        KLVR_LOAD(klvr_AutoLog);
        KLVR_LOAD(klvr_dInstance);
        KLVR_LOAD(klvr_Info);
        KLVR_LOAD(klvr_Author);
        KLVR_LOAD(klvr_Error);
        KLVR_LOAD(klvr_Version);
        KLVR_LOAD(klvr_ModuleCount);
        KLVR_LOAD(klvr_ModuleInfo);
        KLVR_LOAD(klvr_DataCount);
        KLVR_LOAD(klvr_Data);
        KLVR_LOAD(klvr_LocalVar);
        KLVR_LOAD(klvr_GlobalVar);
        KLVR_LOAD(klvr_SetLocalConstants);
        KLVR_LOAD(klvr_SetGlobalConstants);
        KLVR_LOAD(klvr_Abort);
        KLVR_LOAD(klvr_Props);
        KLVR_LOAD(klvr_RunP);
        KLVR_LOAD(klvr_GetInfo);
        KLVR_LOAD(klvr_SetDBpresets);
#undef KLVR_LOAD
        // Optional: a plug-in built before it was added serves a host without it.
        klvr_toolbox_set_progress_callback =
            reinterpret_cast<decltype(&::klvr_toolbox_set_progress_callback)>(
                resolve("klvr_toolbox_set_progress_callback"));
        klvr_toolbox_set_dry_run =
            reinterpret_cast<decltype(&::klvr_toolbox_set_dry_run)>(resolve("klvr_toolbox_set_dry_run"));
        klvr_toolbox_run_report =
            reinterpret_cast<decltype(&::klvr_toolbox_run_report)>(resolve("klvr_toolbox_run_report"));
        klvr_toolbox_set_parallel_sessions =
            reinterpret_cast<decltype(&::klvr_toolbox_set_parallel_sessions)>(
                resolve("klvr_toolbox_set_parallel_sessions"));
        return ok;
    }
};

struct ModRecord {
    std::string Name, IconLarge, IconSmall, Cat, CatIconLarge, CatIconSmall;
};
struct VarRecord {
    bool Use = false;
    std::string Value;
};

struct Progress {
    std::string remoteName;
    int64_t bytesDone = 0;
    int64_t bytesTotal = 0;  // 0 when the server did not announce it
};

/* A host array: element n is values[n - lowerBound]. */
struct StringArray {
    int lowerBound = 1;
    std::vector<std::string> values;
};

class Toolbox {
  public:
    explicit Toolbox(const Functions& f) : f_(f) {
        Check(f_.klvr_get_class_object("klvrVaultfetch.Toolbox", &t_));
    }
    ~Toolbox() {
        if (t_) f_.klvr_toolbox_release(t_);
    }
    Toolbox(const Toolbox&) = delete;
    Toolbox& operator=(const Toolbox&) = delete;

    void SetVariables(const std::string& v) { Check(f_.klvr_SetVariables(t_, v.c_str())); }
    void SetVariablesShared(const std::string& v) { Check(f_.klvr_SetVariablesShared(t_, v.c_str())); }
    void SetPresets(const std::string& v) { Check(f_.klvr_SetPresets(t_, v.c_str())); }
    void SetDBpresets(const std::string& v) { Check(f_.klvr_SetDBpresets(t_, v.c_str())); }
    std::vector<std::string> UserVariableName() { return Strings(f_.klvr_UserVariableName); }
    std::vector<std::string> UserVariableData() { return Strings(f_.klvr_UserVariableData); }
    void AutoLog(bool v) { Check(f_.klvr_AutoLog(t_, v ? -1 : 0)); }
    void dInstance(const std::string& v) { Check(f_.klvr_dInstance(t_, v.c_str())); }
    std::string Info() { return Text(f_.klvr_Info); }
    std::string Author() { return Text(f_.klvr_Author); }
    std::string Version() { return Text(f_.klvr_Version); }
    bool Error() {
        int16_t v = 0;
        Check(f_.klvr_Error(t_, &v));
        return v != 0;
    }
    int16_t ModuleCount() {
        int16_t v = 0;
        Check(f_.klvr_ModuleCount(t_, &v));
        return v;
    }
    int16_t DataCount() {
        int16_t v = 0;
        Check(f_.klvr_DataCount(t_, &v));
        return v;
    }
    std::string Data(int16_t i) {
        char* s = nullptr;
        Check(f_.klvr_Data(t_, i, &s));
        return Take(s);
    }
    ModRecord ModuleInfo(int16_t i) {
        klvr_mod_type r{};
        Check(f_.klvr_ModuleInfo(t_, i, &r));
        ModRecord out{r.Name, r.IconLarge, r.IconSmall, r.Cat, r.CatIconLarge, r.CatIconSmall};
        f_.klvr_free_mod_type(&r);
        return out;
    }
    VarRecord LocalVar(int16_t i) { return Var(f_.klvr_LocalVar, i); }
    VarRecord GlobalVar(int16_t i) { return Var(f_.klvr_GlobalVar, i); }
    void SetLocalConstants(const StringArray& a) { Check(WithArray(a, f_.klvr_SetLocalConstants)); }
    void SetGlobalConstants(const StringArray& a) { Check(WithArray(a, f_.klvr_SetGlobalConstants)); }
    void Abort() { Check(f_.klvr_Abort(t_)); }
    void GetInfo() { Check(f_.klvr_GetInfo(t_)); }
    void Props(const std::string& module, const StringArray& data) {
        auto d = In(data);
        Check(f_.klvr_Props(t_, module.c_str(), d.first));
    }
    void RunP(const std::string& module, const StringArray& data, const StringArray& orgData) {
        auto d = In(data);
        auto o = In(orgData);
        Check(f_.klvr_RunP(t_, module.c_str(), d.first, o.first));
    }
    klvr_toolbox* handle() const { return t_; }

    /* Calls fn with the progress of each file during RunP (an empty fn: no more calls). False when the
     * plug-in is older than this entry point. */
    bool SetProgressCallback(std::function<void(const Progress&)> fn) {
        if (!f_.klvr_toolbox_set_progress_callback) return false;
        progress_ = std::move(fn);
        Check(f_.klvr_toolbox_set_progress_callback(t_, progress_ ? &OnProgress : nullptr, this));
        return true;
    }

    /* Makes the RunP calls dry runs (see klvr_toolbox_set_dry_run). False when the plug-in is older. */
    bool SetDryRun(bool on) {
        if (!f_.klvr_toolbox_set_dry_run) return false;
        Check(f_.klvr_toolbox_set_dry_run(t_, on ? 1 : 0));
        return true;
    }
    /* The last RunP's report as JSON text; empty when the plug-in is older than this entry point. */
    std::string RunReport() {
        if (!f_.klvr_toolbox_run_report) return {};
        return Text(f_.klvr_toolbox_run_report);
    }
    /* Sessions that fetch a folder's files at once during RunP. False when the plug-in is older than
     * this entry point (it then fetches on one). */
    bool SetParallelSessions(int32_t sessions) {
        if (!f_.klvr_toolbox_set_parallel_sessions) return false;
        Check(f_.klvr_toolbox_set_parallel_sessions(t_, sessions));
        return true;
    }

  private:
    void Check(klvr_status s) const {
        if (s != KLVR_OK) throw Failure(s, f_.klvr_status_text(s));
    }
    std::string Take(char* s) const {
        std::string out = s ? s : "";
        f_.klvr_free_string(s);
        return out;
    }
    template <typename Fn>
    std::string Text(Fn fn) {
        char* s = nullptr;
        Check(fn(t_, &s));
        return Take(s);
    }
    template <typename Fn>
    std::vector<std::string> Strings(Fn fn) {
        klvr_strings s{};
        Check(fn(t_, &s));
        std::vector<std::string> out;
        for (int32_t i = 0; i < s.count; ++i) out.emplace_back(s.items[i] ? s.items[i] : "");
        f_.klvr_free_strings(&s);
        return out;
    }
    template <typename Fn>
    VarRecord Var(Fn fn, int16_t i) {
        klvr_var_type r{};
        Check(fn(t_, i, &r));
        VarRecord out{r.Use != 0, r.Value ? r.Value : ""};
        f_.klvr_free_var_type(&r);
        return out;
    }
    static std::pair<klvr_string_array_in, std::vector<const char*>> In(const StringArray& a) {
        std::pair<klvr_string_array_in, std::vector<const char*>> p;
        for (const auto& s : a.values) p.second.push_back(s.c_str());
        p.first = {p.second.data(), static_cast<int32_t>(p.second.size()), a.lowerBound};
        return p;
    }
    template <typename Fn>
    klvr_status WithArray(const StringArray& a, Fn fn) {
        auto in = In(a);
        return fn(t_, in.first);
    }

    static void OnProgress(const klvr_progress* p, void* user) {
        auto* self = static_cast<Toolbox*>(user);
        if (!p || p->size < sizeof(klvr_progress) || !self->progress_) return;
        try {
            self->progress_(Progress{p->remote_name ? p->remote_name : "", p->bytes_done, p->bytes_total});
        } catch (...) {
            /* nothing may unwind into the plug-in */
        }
    }

    const Functions& f_;
    klvr_toolbox* t_ = nullptr;
    std::function<void(const Progress&)> progress_;
};

}  // namespace klvr::abi
#endif /* __cplusplus */

#endif /* KLVR_TOOLBOX_H */
