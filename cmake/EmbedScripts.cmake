# Writes OUTPUT, a C++ source that holds the registration scripts as texts, for a platform
# without resources. SCRIPTS is a list of ID=FILE separated by '|'.
set(body "")
string(REPLACE "|" ";" SCRIPTS "${SCRIPTS}")
foreach(entry ${SCRIPTS})
    string(REPLACE "=" ";" parts "${entry}")
    list(GET parts 0 id)
    list(GET parts 1 file)
    file(READ "${file}" text)
    string(APPEND body "    {${id}, R\"zanthrop_script(${text})zanthrop_script\"},\n")
endforeach()
file(WRITE "${OUTPUT}.new" "// Generated from the registration scripts (*.rgs); do not edit.
#include \"module/ScriptResources.h\"

namespace {

struct EmbeddedScript {
    UINT id;
    const char* text;
};

const EmbeddedScript kScripts[] = {
${body}};

}  // namespace

// module is not consulted: the scripts are part of this library.
HRESULT LoadRegistrationScript(HMODULE /*module*/, UINT id, std::string& script) {
    for (const EmbeddedScript& embedded : kScripts) {
        if (embedded.id == id) {
            script = embedded.text;
            return S_OK;
        }
    }
    return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
}
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
