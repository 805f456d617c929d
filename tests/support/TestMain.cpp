// Test main shared by every test executable. JUCE's GUI side is set up in a gtest Environment
// (not in main), so listing the tests needs no display.
#include <gtest/gtest.h>

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

#ifdef __linux__
#include <dlfcn.h>
#endif

namespace
{
juce::JUCEApplicationBase* noApplication()
{
    return nullptr;
}

class JuceEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        // Without this, a window on a bare X server (no window manager) fails with BadAtom.
        juce::JUCEApplicationBase::createInstance = &noApplication;
        m_gui = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
    }

    void TearDown() override { m_gui.reset(); }

private:
    std::unique_ptr<juce::ScopedJuceInitialiser_GUI> m_gui;
};
} // namespace

int main(int argc, char** argv)
{
#ifdef __linux__
    // The framework loads Xlib at run time and unloads it at shutdown; Xlib's caches then lose
    // their last reference and LeakSanitizer reports them. Kept loaded, they stay reachable.
    ::dlopen("libX11.so.6", RTLD_LAZY | RTLD_NODELETE);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new JuceEnvironment());
    return RUN_ALL_TESTS();
}
