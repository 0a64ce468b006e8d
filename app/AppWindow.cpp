#include "AppWindow.h"

#include <GLFW/glfw3.h>
#include <imgui.h>
#include <imgui_impl_glfw.h>
#include <imgui_impl_opengl3.h>
#include <stb_image_write.h>

#include <chrono>
#include <string>
#include <stdexcept>
#include <vector>

#include "Theme.h"
#include "platform/DebugLog.h"
#include "platform/MainQueue.h"

namespace {

constexpr const char* kFontFolder = "/usr/share/fonts/truetype/dejavu/";
constexpr const char* kFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

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
    // Below this the three columns and the header no longer fit side by side.
    glfwSetWindowSizeLimits(window, 1100, 700, GLFW_DONT_CARE, GLFW_DONT_CARE);
    glfwMakeContextCurrent(window);
    glfwSwapInterval(1);

    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    ImGui::GetIO().IniFilename = nullptr;  // the receiver keeps its own settings file, not ImGui's layout
    theme::apply();
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
    // Basic Latin, Latin-1 and Latin Extended-A (š, đ, č, ć, ž), general punctuation (dashes,
    // bullet, ellipsis), arrows, the minus sign, geometric shapes and miscellaneous symbols.
    static constexpr ImWchar kRanges[] = {0x0020, 0x00FF, 0x0100, 0x017F, 0x2010, 0x2044,
                                      0x2190, 0x21FF, 0x2212, 0x2212, 0x25A0, 0x25FF,
                                      0x2600, 0x26FF, 0};
    ImFontConfig config;
    config.OversampleH = 2;
    // One entry per theme::FontRole, in its order; a missing file falls back to DejaVu Sans.
    struct Face {
        const char* file;
        float size;
    };
    static constexpr Face kFaces[] = {
        {"DejaVuSans.ttf", 15.0f},           // body
        {"DejaVuSans-Bold.ttf", 15.0f},      // bold
        {"DejaVuSansMono-Bold.ttf", 40.0f},  // display: the frequency read-out
        {"DejaVuSans.ttf", 12.5f},           // small
        {"DejaVuSansCondensed.ttf", 11.0f},  // scale labels
        {"DejaVuSansMono.ttf", 14.0f},       // mono: numbers in chips and lists
        {"DejaVuSans-Bold.ttf", 19.0f},      // title
    };
    for (const Face& face : kFaces) {
        const std::string path = std::string(kFontFolder) + face.file;
        ImFont* font = io.Fonts->AddFontFromFileTTF(path.c_str(), face.size, &config, kRanges);
        if (font == nullptr) font = io.Fonts->AddFontFromFileTTF(kFontPath, face.size, &config, kRanges);
        if (font == nullptr) {
            DebugLog::writef("font %s missing, using the built-in font", path.c_str());
            ImFontConfig fallback;
            fallback.SizePixels = face.size;
            io.Fonts->AddFontDefault(&fallback);
        }
    }
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

void AppWindow::requestClose() {
    glfwSetWindowShouldClose(window, GLFW_TRUE);
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
