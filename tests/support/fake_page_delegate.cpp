#include "tests/support/fake_page_delegate.h"

namespace varne::testing {

void FakePageDelegate::load_top_document(const std::string& url, int32_t status)
{
    const std::string realm = "realm-" + std::to_string(++m_documents);
    m_state.navigation_started(m_main_frame);
    m_state.frame_started_loading(m_main_frame);
    m_state.document_answered(m_main_frame, status);
    m_state.frame_navigated(m_main_frame, {}, url, url.substr(0, url.find('/', url.find("://") + 3)));
    m_state.realm_created(realm, m_main_frame);
    m_state.top_content_loaded();
    m_state.frame_stopped_loading(m_main_frame);
}

void FakePageDelegate::open_dialog(const std::string& type, const std::string& message,
                                   const std::string& default_prompt)
{
    m_state.dialog_opening({type, message, default_prompt});
}

page::NavigationStart FakePageDelegate::navigate(const std::string& frame_id, const std::string& url)
{
    navigations.emplace_back(frame_id, url);
    return next_navigation;
}

page::RemoteValue FakePageDelegate::evaluate(const std::string& realm_id, const std::string& expression, bool)
{
    evaluated.emplace_back(realm_id, expression);
    page::RemoteValue value;
    value.kind = page::RemoteValue::Kind::Object;
    value.handle = expression + "@" + realm_id;
    value.subtype = "node";
    value.class_name = "HTMLDocument";
    return value;
}

std::optional<page::RemoteValue> FakePageDelegate::call_function(const std::string& handle,
                                                                 const std::string& declaration,
                                                                 const std::vector<page::CallArgument>& arguments, bool,
                                                                 bool)
{
    calls.push_back({handle, declaration, arguments});
    return answer_call(calls.back());
}

bool FakePageDelegate::answer_dialog(bool accept, const std::string& prompt_text)
{
    if (!m_state.dialog())
        return false;
    dialog_answers.emplace_back(accept, prompt_text);
    m_state.dialog_closed(accept);
    return true;
}

std::unique_ptr<page::PageDelegate> FakeEngine::open_page(page::PageState& state, bool)
{
    auto page = std::make_unique<FakePageDelegate>(state);
    last_page = page.get();
    return page;
}

}  // namespace varne::testing
