#include "common/AppContext.h"

namespace velth {

namespace {
std::string withSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder.push_back('/');
    return folder;
}
} // namespace

AppContext::AppContext(std::string programFolder, ProfileStore& store, Prompts& prompts, StatusLine& status)
    : m_programFolder(withSlash(std::move(programFolder)))
    , m_store(store)
    , m_prompts(prompts)
    , m_status(status)
{ }

} // namespace velth
