#include "AppWindow.h"

#include <GLFW/glfw3.h>
#include <imgui.h>
#include <imgui_impl_glfw.h>
#include <imgui_impl_opengl3.h>
#include <stb_image_write.h>

#include <chrono>
#include <stdexcept>
#include <vector>

#include "platform/DebugLog.h"
#include "platform/MainQueue.h"

namespace {

constexpr const char* kFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char* kBoldFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

void glfwErrorToLog(int code, const char* description) {
    DebugLog::writef("GLFW error %d: %s", code, description);
}

}  // namespace

AppWindow::AppWindow(std::shared_ptr<MainQueue> queue, Options opts)
    : mainQueue(std::move(queue)), options(std::move(opts)) {
    glfwSetErrorCallback(glfwErrorToLog);
    if (!glfwInit()) throw std::runtime_error("cannot open a window: no display (GLFW init failed)");
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    window = glfwCreateWindow(options.width, options.height, "Vantirel", nullptr, nullptr);
    if (window == nullptr) {
        glfwTerminate();
        throw std::runtime_error("cannot open a window: OpenGL 3.3 is not available");
    }
    glfwMakeContextCurrent(window);
    glfwSwapInterval(1);

    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    ImGui::GetIO().IniFilename = nullptr;  // no configuration files: settings live for a run
    ImGui::StyleColorsDark();
    ImGuiStyle& style = ImGui::GetStyle();
    style.WindowRounding = 0.0f;
    style.FrameRounding = 4.0f;
    style.ChildRounding = 6.0f;
    loadFonts();
    ImGui_ImplGlfw_InitForOpenGL(window, true);
    ImGui_ImplOpenGL3_Init("#version 330");

    mainQueue->setWakeHook([] { glfwPostEmptyEvent(); });
}

AppWindow::~AppWindow() {
    mainQueue->setWakeHook(nullptr);
    ImGui_ImplOpenGL3_Shutdown();
    ImGui_ImplGlfw_Shutdown();
    ImGui::DestroyContext();
    glfwDestroyWindow(window);
    glfwTerminate();
}

void AppWindow::loadFonts() {
    ImGuiIO& io = ImGui::GetIO();
    // Basic Latin, Latin-1 and Latin Extended-A (š, đ, č, ć, ž), arrows, the minus sign.
    static const ImWchar kRanges[] = {0x0020, 0x00FF, 0x0100, 0x017F, 0x2010, 0x2044,
                                      0x2190, 0x21FF, 0x2212, 0x2212, 0x25A0, 0x25FF,
                                      0x2600, 0x26FF, 0};
    ImFontConfig config;
    config.OversampleH = 2;
    if (io.Fonts->AddFontFromFileTTF(kFontPath, 16.0f, &config, kRanges) == nullptr) {
        DebugLog::writef("font %s missing, using the built-in font", kFontPath);
        io.Fonts->AddFontDefault();
        return;
    }
    // Index 1: bold, for headings; index 2: large, for the frequency read-out.
    if (io.Fonts->AddFontFromFileTTF(kBoldFontPath, 16.0f, &config, kRanges) == nullptr)
        io.Fonts->AddFontFromFileTTF(kFontPath, 16.0f, &config, kRanges);
    if (io.Fonts->AddFontFromFileTTF(kBoldFontPath, 34.0f, &config, kRanges) == nullptr)
        io.Fonts->AddFontFromFileTTF(kFontPath, 34.0f, &config, kRanges);
}

bool AppWindow::saveScreenshot(const std::filesystem::path& path) {
    int width = 0, height = 0;
    glfwGetFramebufferSize(window, &width, &height);
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    stbi_flip_vertically_on_write(1);
    return stbi_write_png(path.c_str(), width, height, 4, pixels.data(), width * 4) != 0;
}

void AppWindow::run(const std::function<void()>& drawFrame) {
    const auto opened = std::chrono::steady_clock::now();
    while (!glfwWindowShouldClose(window)) {
        // Redraw at least 30 times a second so live displays move; posted work wakes earlier.
        glfwWaitEventsTimeout(std::min(1.0 / 30.0, mainQueue->secondsUntilNextEvent()));
        mainQueue->runPending();

        ImGui_ImplOpenGL3_NewFrame();
        ImGui_ImplGlfw_NewFrame();
        ImGui::NewFrame();
        drawFrame();
        ImGui::Render();
        int width = 0, height = 0;
        glfwGetFramebufferSize(window, &width, &height);
        glViewport(0, 0, width, height);
        glClearColor(0.07f, 0.08f, 0.10f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());

        if (options.screenshotPath &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - opened).count() >=
                options.screenshotAfterSeconds) {
            if (!saveScreenshot(*options.screenshotPath))
                DebugLog::writef("cannot write screenshot %s", options.screenshotPath->c_str());
            glfwSetWindowShouldClose(window, GLFW_TRUE);
        }
        glfwSwapBuffers(window);
    }
}
