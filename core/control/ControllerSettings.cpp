#include "control/ControllerSettings.h"

#include "control/SDRController.h"

void applySettings(SDRController& c, const ReceiverSettings& s) {
    c.tune(s.frequencyMHz, true);
    c.mode = s.mode;
    c.setIsNarrowbandFM(s.narrowbandFM);
    c.stereoEnabled = s.stereoEnabled;
    // Gain first, so switching AGC off programs the remembered gain, not the previous one.
    c.setManualGainTenthsDB(s.manualGainTenthsDB);
    c.setAgcEnabled(s.agcEnabled);
    c.setFrequencyCorrectionPPM(s.frequencyCorrectionPPM);
    c.setAudioVolume(s.audioVolume);
    c.audioBalance = s.audioBalance;
    c.squelchEnabled = s.squelchEnabled;
    c.squelchThresholdDB = s.squelchThresholdDB;
    c.nbEnabled = s.nbEnabled;
    c.nbThreshold = s.nbThreshold;
    c.nrEnabled = s.nrEnabled;
    c.nrAmount = s.nrAmount;
    c.notchEnabled = s.notchEnabled;
    c.notchFrequencyHz = s.notchFrequencyHz;
    c.setRdsEnabled(s.rdsEnabled);
}

ReceiverSettings captureSettings(const SDRController& c, ReceiverSettings s) {
    // ADS-B, DAB and the band scan borrow the tuner (1090 MHz, Band III, fixed gain) and give
    // it back; what the user listened to before stays the remembered tuning.
    const bool tunerBorrowed = c.adsbEnabled() || c.isScanning || c.dabActive || c.dabStreamRunning || c.dabScanning;
    if (!tunerBorrowed) {
        s.frequencyMHz = c.frequencyMHz;
        s.mode = c.mode;
        s.agcEnabled = c.agcEnabled();
        s.manualGainTenthsDB = c.manualGainTenthsDB();
        s.rdsEnabled = c.rdsEnabled();
    }
    s.narrowbandFM = c.isNarrowbandFM();
    s.stereoEnabled = c.stereoEnabled;
    s.frequencyCorrectionPPM = c.frequencyCorrectionPPM;
    s.audioVolume = c.audioVolume();
    s.audioBalance = c.audioBalance;
    s.squelchEnabled = c.squelchEnabled;
    s.squelchThresholdDB = c.squelchThresholdDB;
    s.nbEnabled = c.nbEnabled;
    s.nbThreshold = c.nbThreshold;
    s.nrEnabled = c.nrEnabled;
    s.nrAmount = c.nrAmount;
    s.notchEnabled = c.notchEnabled;
    s.notchFrequencyHz = c.notchFrequencyHz;
    return s;
}
