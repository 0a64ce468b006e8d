#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct GLFWwindow;
class MainQueue;

// The GLFW window with Dear ImGui on OpenGL 3. Pumps the main queue every frame and sleeps in
// glfwWaitEventsTimeout between frames; posted work wakes it.
class AppWindow {
public:
    struct Options {
        int width = 1400;
        int height = 860;
        std::optional<std::filesystem::path> screenshotPath{};  // write a PNG, then close
        double screenshotAfterSeconds = 3.0;
    };

    // Throws std::runtime_error when no window can be made (no display, no OpenGL 3).
    AppWindow(std::shared_ptr<MainQueue> queue, Options options);
    ~AppWindow();
    AppWindow(const AppWindow&) = delete;
    AppWindow& operator=(const AppWindow&) = delete;

    // Runs until the window closes; `drawFrame` builds the ImGui frame.
    void run(const std::function<void()>& drawFrame);
    // Ends run() after the current frame, as the window's close button does.
    void requestClose();

private:
    void loadFonts();
    bool saveScreenshot(const std::filesystem::path& path);

    std::shared_ptr<MainQueue> mainQueue;
    Options options;
    GLFWwindow* window = nullptr;
};
