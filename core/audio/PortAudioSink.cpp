#include "audio/PortAudioSink.h"

#include <dlfcn.h>
#include <portaudio.h>

#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "audio/AudioError.h"
#include "platform/DebugLog.h"

namespace {

constexpr double kPeriodSeconds = 0.01;

AudioError portAudioError(AudioError::Kind kind, PaError code) {
    return AudioError{.kind = kind, .message = std::string("PortAudio: ") + Pa_GetErrorText(code)};
}

// ALSA and JACK print their probing chatter to stderr while PortAudio enumerates devices.
// The receiver prints nothing, so their messages go to the debug log instead. Looked up at run
// time: both libraries are loaded as PortAudio's dependencies, or absent.
extern "C" void alsaMessageToDebugLog(const char* file, int line, const char* function, int err,
                                      const char* format, ...) {
    if (!DebugLog::isEnabled()) return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    DebugLog::writef("ALSA %s:%d %s (%d): %s", file ? file : "?", line, function ? function : "?",
                     err, text);
}

extern "C" void jackMessageToDebugLog(const char* message) {
    DebugLog::writef("JACK %s", message ? message : "");
}

void routeAudioLibraryMessagesToDebugLog() {
    using AlsaHandler = void (*)(const char*, int, const char*, int, const char*, ...);
    using AlsaSetHandler = int (*)(AlsaHandler);
    using JackSetFunction = void (*)(void (*)(const char*));
    if (void* symbol = dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler")) {
        reinterpret_cast<AlsaSetHandler>(symbol)(&alsaMessageToDebugLog);
    }
    for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
        if (void* symbol = dlsym(RTLD_DEFAULT, name)) {
            reinterpret_cast<JackSetFunction>(symbol)(&jackMessageToDebugLog);
        }
    }
}

bool canPlayStereo(const PaDeviceInfo* info) {
    return info != nullptr && info->maxOutputChannels >= 2;
}

// The named output device, else the default one.
PaDeviceIndex outputDevice(const std::string& name) {
    if (!name.empty()) {
        for (PaDeviceIndex k = 0; k < Pa_GetDeviceCount(); ++k) {
            const PaDeviceInfo* info = Pa_GetDeviceInfo(k);
            if (canPlayStereo(info) && name == info->name) return k;
        }
        DebugLog::writef("PortAudio: no output device named \"%s\", using the default", name.c_str());
    }
    return Pa_GetDefaultOutputDevice();
}

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

struct PortAudioSink::Trampoline {
    // paNonInterleaved: `output` is an array of one float buffer per channel.
    static int callback(const void* /*input*/, void* output, unsigned long frameCount,
                        const PaStreamCallbackTimeInfo* /*timeInfo*/,
                        PaStreamCallbackFlags /*statusFlags*/, void* userData) {
        auto* self = static_cast<PortAudioSink*>(userData);
        auto** channels = static_cast<float**>(output);
        self->renderCallback(std::span<float>(channels[0], frameCount),
                             std::span<float>(channels[1], frameCount), steadySeconds());
        return paContinue;
    }
};

PortAudioSink::Library::Library() {
    routeAudioLibraryMessagesToDebugLog();
    const PaError status = Pa_Initialize();
    if (status != paNoError) throw portAudioError(AudioError::Kind::initializeFailed, status);
}

PortAudioSink::Library::~Library() {
    Pa_Terminate();
}

void PortAudioSink::StreamCloser::operator()(void* s) const noexcept {
    Pa_CloseStream(s);
}

PortAudioSink::PortAudioSink(double sampleRateHz, std::string device)
    : requestedRateHz(sampleRateHz), deviceName(std::move(device)), streamRateHz(sampleRateHz) {}

std::vector<std::string> PortAudioSink::outputDeviceNames() {
    std::vector<std::string> names;
    try {
        const Library library;
        for (PaDeviceIndex k = 0; k < Pa_GetDeviceCount(); ++k)
            if (const PaDeviceInfo* info = Pa_GetDeviceInfo(k); canPlayStereo(info)) names.emplace_back(info->name);
    } catch (const AudioError& error) {
        DebugLog::writef("%s", error.message.c_str());
    }
    return names;
}

PortAudioSink::~PortAudioSink() {
    stop();
}

void PortAudioSink::start(RenderCallback render) {
    stop();
    const PaDeviceIndex device = outputDevice(deviceName);
    const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
    if (!info) {
        throw AudioError{.kind = AudioError::Kind::noOutputDevice,
                         .message = "PortAudio: no default output device"};
    }
    PaStreamParameters parameters{};
    parameters.device = device;
    parameters.channelCount = 2;
    parameters.sampleFormat = paFloat32 | paNonInterleaved;
    parameters.suggestedLatency = info->defaultHighOutputLatency;

    double rateHz = requestedRateHz;
    if (Pa_IsFormatSupported(nullptr, &parameters, rateHz) != paFormatIsSupported) {
        rateHz = info->defaultSampleRate;
        if (Pa_IsFormatSupported(nullptr, &parameters, rateHz) != paFormatIsSupported) {
            throw AudioError{.kind = AudioError::Kind::formatCreationFailed,
                             .message = "Ne mogu kreirati audio format"};
        }
    }

    renderCallback = std::move(render);
    PaStream* opened = nullptr;
    const auto framesPerBuffer = static_cast<unsigned long>(std::lround(rateHz * kPeriodSeconds));
    PaError status = Pa_OpenStream(&opened, nullptr, &parameters, rateHz, framesPerBuffer, paNoFlag,
                                   &Trampoline::callback, this);
    if (status != paNoError) throw portAudioError(AudioError::Kind::engineStartFailed, status);
    stream.reset(opened);
    if (const PaStreamInfo* streamInfo = Pa_GetStreamInfo(opened)) {
        streamRateHz = streamInfo->sampleRate;
    } else {
        streamRateHz = rateHz;
    }
    status = Pa_StartStream(opened);
    if (status != paNoError) {
        stream.reset();
        throw portAudioError(AudioError::Kind::engineStartFailed, status);
    }
}

void PortAudioSink::stop() {
    if (!stream) return;
    // Pa_StopStream returns after the last callback has finished.
    Pa_StopStream(stream.get());
    stream.reset();
}

bool PortAudioSink::isRunning() const {
    return stream && Pa_IsStreamActive(stream.get()) == 1;
}
