// The exported C entry points: each member of Toolbox behind a function that turns the plug-in's
// failures into status codes, so nothing but a status ever crosses the library boundary.
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <nlohmann/json.hpp>
#include <system_error>
#include <thread>

#include "host/dialog_module.h"
#include "host/host_lists.h"
#include "host/module_state.h"
#include "host/plugin_library.h"
#include "host/plugin_manifest.h"
#include "host/toolbox.h"
#include "klvr/toolbox.h"
#include "settings/settings_array.h"

struct klvr_toolbox {
    klvr::Toolbox object;
    klvr_progress_callback progress = nullptr;
    void* progressUser = nullptr;
    bool dryRun = false;
    int32_t parallelSessions = 1;
};

namespace {

char* Dup(const std::string& s) {
    char* out = static_cast<char*>(std::malloc(s.size() + 1));
    if (out) std::memcpy(out, s.c_str(), s.size() + 1);
    return out;
}

template <typename Body>
klvr_status Guard(klvr_toolbox* t, Body&& body) {
    if (!t) return KLVR_E_INVALID_ARGUMENT;
    if (klvr::BusyOnAnotherThread()) return KLVR_E_BUSY;
    try {
        body(t->object);
        return KLVR_OK;
    } catch (const klvr::SubscriptError&) {
        return KLVR_E_SUBSCRIPT;
    } catch (const klvr::DuplicateKeyError&) {
        return KLVR_E_DUPLICATE_KEY;
    } catch (...) {
        return KLVR_E_FAILED;
    }
}

// RunP and Props work on the one module state of the process from start to end: one of them at a time.
template <typename Body>
klvr_status Exclusive(klvr_toolbox* t, Body&& body) {
    if (!t) return KLVR_E_INVALID_ARGUMENT;
    std::atomic<std::thread::id>& owner = klvr::moduleState().CallThread;
    std::thread::id none;
    if (!owner.compare_exchange_strong(none, std::this_thread::get_id())) return KLVR_E_BUSY;
    struct Leave {
        std::atomic<std::thread::id>& owner;
        ~Leave() { owner.store(std::thread::id{}); }
    } leave{owner};
    return Guard(t, std::forward<Body>(body));
}

klvr::SettingsArray ToArray(const klvr_string_array_in& in) {
    klvr::SettingsArray a;
    a.lowerBound = in.lower_bound;
    for (int32_t i = 0; i < in.count && in.items; ++i) a.values.emplace_back(in.items[i] ? in.items[i] : "");
    return a;
}

klvr_status ToStrings(const std::vector<std::string>& v, klvr_strings* out) {
    if (!out) return KLVR_E_INVALID_ARGUMENT;
    out->count = static_cast<int32_t>(v.size());
    out->items = static_cast<char**>(std::calloc(v.size() + 1, sizeof(char*)));
    for (std::size_t i = 0; i < v.size(); ++i) out->items[i] = Dup(v[i]);
    return KLVR_OK;
}

}  // namespace

extern "C" {

klvr_status klvr_register_server(void) {
    try {
        const std::string library = std::filesystem::absolute(klvr::PluginLibraryPath()).lexically_normal();
        klvr::WriteManifest(klvr::ManifestPath(), klvr::ManifestText(klvr::kClassName, library));
        return KLVR_OK;
    } catch (const std::system_error& e) {
        errno = e.code().value();
    } catch (const nlohmann::json::exception&) {
        errno = EILSEQ;
    } catch (...) {
        errno = ENOENT;  // no data folder to register in
    }
    return KLVR_E_FAILED;
}

klvr_status klvr_unregister_server(void) {
    try {
        std::filesystem::remove(klvr::ManifestPath());
        return KLVR_OK;
    } catch (const std::system_error& e) {
        errno = e.code().value();
    } catch (...) {
        errno = ENOENT;
    }
    return KLVR_E_FAILED;
}

klvr_status klvr_get_class_object(const char* class_name, klvr_toolbox** out) {
    if (!out) return KLVR_E_INVALID_ARGUMENT;
    *out = nullptr;
    if (!class_name || std::strcmp(class_name, klvr::kClassName) != 0) return KLVR_E_CLASS_NOT_AVAILABLE;
    try {
        *out = new klvr_toolbox{};
        return KLVR_OK;
    } catch (...) {
        return KLVR_E_FAILED;
    }
}

int32_t klvr_can_unload_now(void) {
    return klvr::Toolbox::LiveObjects() == 0 ? 1 : 0;
}

void klvr_toolbox_release(klvr_toolbox* t) {
    try {
        delete t;
    } catch (...) {
    }
}

const char* klvr_status_text(klvr_status s) {
    switch (s) {
        case KLVR_OK:
            return "";
        case KLVR_E_SUBSCRIPT:
            return "Subscript out of range";
        case KLVR_E_DUPLICATE_KEY:
            return "This key is already associated with an element of this collection";
        case KLVR_E_INVALID_ARGUMENT:
            return "Invalid procedure call or argument";
        case KLVR_E_CLASS_NOT_AVAILABLE:
            return "Class not available";
        case KLVR_E_BUSY:
            return "The plug-in is running RunP or Props for another caller in this process; only Abort "
                   "is taken until that call has ended";
        default:
            return "The plug-in failed";
    }
}

void klvr_free_string(char* text) {
    std::free(text);
}

void klvr_free_strings(klvr_strings* s) {
    if (!s || !s->items) return;
    for (int32_t i = 0; i < s->count; ++i) std::free(s->items[i]);
    std::free(s->items);
    s->items = nullptr;
    s->count = 0;
}

void klvr_free_mod_type(klvr_mod_type* r) {
    if (!r) return;
    for (char** f : {&r->Name, &r->IconLarge, &r->IconSmall, &r->Cat, &r->CatIconLarge, &r->CatIconSmall}) {
        std::free(*f);
        *f = nullptr;
    }
}

void klvr_free_var_type(klvr_var_type* r) {
    if (!r) return;
    std::free(r->Value);
    r->Value = nullptr;
}

klvr_status klvr_SetVariables(klvr_toolbox* t, const char* v) {
    return Guard(t, [&](klvr::Toolbox& o) { o.SetVariables(v ? v : ""); });
}
klvr_status klvr_SetVariablesShared(klvr_toolbox* t, const char* v) {
    return Guard(t, [&](klvr::Toolbox& o) { o.SetVariablesShared(v ? v : ""); });
}
klvr_status klvr_SetPresets(klvr_toolbox* t, const char* v) {
    return Guard(t, [&](klvr::Toolbox& o) { o.SetPresets(v ? v : ""); });
}
klvr_status klvr_SetDBpresets(klvr_toolbox* t, const char* v) {
    return Guard(t, [&](klvr::Toolbox& o) { o.SetDBpresets(v ? v : ""); });
}
klvr_status klvr_UserVariableName(klvr_toolbox* t, klvr_strings* out) {
    if (!out) return KLVR_E_INVALID_ARGUMENT;
    return Guard(t, [&](klvr::Toolbox& o) { ToStrings(o.UserVariableName(), out); });
}
klvr_status klvr_UserVariableData(klvr_toolbox* t, klvr_strings* out) {
    if (!out) return KLVR_E_INVALID_ARGUMENT;
    return Guard(t, [&](klvr::Toolbox& o) { ToStrings(o.UserVariableData(), out); });
}
klvr_status klvr_AutoLog(klvr_toolbox* t, int16_t v) {
    return Guard(t, [&](klvr::Toolbox& o) { o.AutoLog(v != 0); });
}
klvr_status klvr_dInstance(klvr_toolbox* t, const char* v) {
    return Guard(t, [&](klvr::Toolbox& o) { o.dInstance(v ? v : ""); });
}
klvr_status klvr_Info(klvr_toolbox* t, char** out) {
    if (!out) return KLVR_E_INVALID_ARGUMENT;
    return Guard(t, [&](klvr::Toolbox& o) { *out = Dup(o.Info()); });
}
klvr_status klvr_Author(klvr_toolbox* t, char** out) {
    if (!out) return KLVR_E_INVALID_ARGUMENT;
    return Guard(t, [&](klvr::Toolbox& o) { *out = Dup(o.Author()); });
}
klvr_status klvr_Error(klvr_toolbox* t, int16_t* out) {
    if (!out) return KLVR_E_INVALID_ARGUMENT;
    return Guard(t, [&](klvr::Toolbox& o) { *out = o.Error() ? -1 : 0; });
}
klvr_status klvr_Version(klvr_toolbox* t, char** out) {
    if (!out) return KLVR_E_INVALID_ARGUMENT;
    return Guard(t, [&](klvr::Toolbox& o) { *out = Dup(o.Version()); });
}
klvr_status klvr_ModuleCount(klvr_toolbox* t, int16_t* out) {
    if (!out) return KLVR_E_INVALID_ARGUMENT;
    return Guard(t, [&](klvr::Toolbox& o) { *out = o.ModuleCount(); });
}
klvr_status klvr_ModuleInfo(klvr_toolbox* t, int16_t i, klvr_mod_type* out) {
    if (!out) return KLVR_E_INVALID_ARGUMENT;
    return Guard(t, [&](klvr::Toolbox& o) {
        const klvr::ModType r = o.ModuleInfo(i);
        *out = {Dup(r.Name), Dup(r.IconLarge),    Dup(r.IconSmall),
                Dup(r.Cat),  Dup(r.CatIconLarge), Dup(r.CatIconSmall)};
    });
}
klvr_status klvr_DataCount(klvr_toolbox* t, int16_t* out) {
    if (!out) return KLVR_E_INVALID_ARGUMENT;
    return Guard(t, [&](klvr::Toolbox& o) { *out = o.DataCount(); });
}
klvr_status klvr_Data(klvr_toolbox* t, int16_t i, char** out) {
    if (!out) return KLVR_E_INVALID_ARGUMENT;
    return Guard(t, [&](klvr::Toolbox& o) { *out = Dup(o.Data(i)); });
}
klvr_status klvr_LocalVar(klvr_toolbox* t, int16_t i, klvr_var_type* out) {
    if (!out) return KLVR_E_INVALID_ARGUMENT;
    return Guard(t, [&](klvr::Toolbox& o) {
        const klvr::VarType r = o.LocalVar(i);
        *out = {r.Use, Dup(r.Value)};
    });
}
klvr_status klvr_GlobalVar(klvr_toolbox* t, int16_t i, klvr_var_type* out) {
    if (!out) return KLVR_E_INVALID_ARGUMENT;
    return Guard(t, [&](klvr::Toolbox& o) {
        const klvr::VarType r = o.GlobalVar(i);
        *out = {r.Use, Dup(r.Value)};
    });
}
klvr_status klvr_SetLocalConstants(klvr_toolbox* t, klvr_string_array_in v) {
    return Guard(t, [&](klvr::Toolbox& o) { o.SetLocalConstants(ToArray(v)); });
}
klvr_status klvr_SetGlobalConstants(klvr_toolbox* t, klvr_string_array_in v) {
    return Guard(t, [&](klvr::Toolbox& o) { o.SetGlobalConstants(ToArray(v)); });
}
klvr_status klvr_Abort(klvr_toolbox* t) {
    // the one member meant for another thread while a run blocks its own
    if (!t) return KLVR_E_INVALID_ARGUMENT;
    try {
        t->object.Abort();
        return KLVR_OK;
    } catch (...) {
        return KLVR_E_FAILED;
    }
}
klvr_status klvr_Props(klvr_toolbox* t, const char* module, klvr_string_array_in data) {
    return Exclusive(t, [&](klvr::Toolbox& o) {
        // only the dialog brings Qt in: a run never loads it
        klvr::InstallDialogModuleFactory();
        o.Props(module ? module : "", ToArray(data));
    });
}
klvr_status klvr_RunP(klvr_toolbox* t, const char* module, klvr_string_array_in data,
                      klvr_string_array_in orgData) {
    return Exclusive(t, [&](klvr::Toolbox& o) {
        // The callback belongs to this object; the run reaches it through the module state while it lasts.
        auto& progress = klvr::moduleState().TransferProgress;
        if (t->progress) {
            progress = [fn = t->progress, user = t->progressUser](const std::string& name, std::int64_t done,
                                                                  std::int64_t total) {
                const klvr_progress p{sizeof(klvr_progress), name.c_str(), done, total};
                fn(&p, user);
            };
        }
        klvr::moduleState().DryRun = t->dryRun;
        struct Clear {
            std::function<void(const std::string&, std::int64_t, std::int64_t)>& progress;
            ~Clear() {
                progress = nullptr;
                klvr::moduleState().DryRun = false;
            }
        } clear{progress};
        // like the callback, the number of sessions is this object's and lasts for the call
        struct Sessions {
            int& sessions;
            ~Sessions() { sessions = 1; }
        } sessions{klvr::moduleState().ParallelSessions};
        sessions.sessions = t->parallelSessions;
        o.RunP(module ? module : "", ToArray(data), ToArray(orgData));
    });
}
klvr_status klvr_toolbox_set_progress_callback(klvr_toolbox* t, klvr_progress_callback fn, void* user) {
    return Guard(t, [&](klvr::Toolbox&) {
        t->progress = fn;
        t->progressUser = fn ? user : nullptr;
    });
}
klvr_status klvr_toolbox_set_dry_run(klvr_toolbox* t, int32_t on) {
    return Guard(t, [&](klvr::Toolbox&) { t->dryRun = on != 0; });
}
klvr_status klvr_toolbox_run_report(klvr_toolbox* t, char** out) {
    if (!out) return KLVR_E_INVALID_ARGUMENT;
    *out = nullptr;
    return Guard(t, [&](klvr::Toolbox&) {
        *out = Dup(klvr::moduleState().Report.Json());
        if (!*out) throw std::bad_alloc();
    });
}
klvr_status klvr_toolbox_set_parallel_sessions(klvr_toolbox* t, int32_t sessions) {
    if (t && (sessions < 1 || sessions > 16)) return KLVR_E_INVALID_ARGUMENT;
    return Guard(t, [&](klvr::Toolbox&) { t->parallelSessions = sessions; });
}
klvr_status klvr_GetInfo(klvr_toolbox* t) {
    return Guard(t, [&](klvr::Toolbox& o) { o.GetInfo(); });
}

}  // extern "C"
