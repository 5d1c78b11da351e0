#pragma once

#include "platform/SpeechRecognizer.h"
#include "platform/linux/sphinx/SphinxChannelFile.h"
// sphinxWrittenWords, for those who test the recognizer.
#include "platform/linux/sphinx/SphinxWrittenWords.h"

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct ps_decoder_s;

namespace parlaro::sys {

// One installed pocketsphinx model: <root>/<name>/ holds the acoustic model
// folder <name>, the language model <name>.lm.bin and the dictionary
// cmudict-<name>.dict. The name is the locale in lower case ("en-us").
struct SphinxModel {
    std::string locale;  // "en-US"
    std::string acousticModel;
    std::string languageModel;
    std::string dictionary;
};

// Where Debian installs the models.
inline constexpr const char* defaultSphinxModelRoot = "/usr/share/pocketsphinx/model";

// The complete models under the root, sorted by locale.
std::vector<SphinxModel> installedSphinxModels(const std::string& root = defaultSphinxModelRoot);

// A decoder of the model set up as this program decodes (the benchmarks load
// theirs the same way); null when the model could not be loaded. The caller
// frees it with ps_free.
ps_decoder_s* loadSphinxDecoder(const SphinxModel& model);

class SphinxEngine;

// Speech recognition on pocketsphinx. It runs on this computer, so every
// locale with an installed model is recognized on the device and permission
// is always granted. Requests take 16 kHz mono 16-bit audio. The audio of one
// request is one utterance to the decoder: the changing hypothesis comes back
// as partial results and the end of the audio yields the final result.
// A request that asks for punctuation gets written text: a full stop where
// the speaker paused between words that the model's language model reads as
// two sentences, a capital at each sentence start and the English pronoun
// "I" (the models know neither punctuation nor case). Across two requests a
// pause apart, continuation() tells the same from the same model.
// Decoding runs on one worker thread per model, never on the main actor;
// decoders are loaded there once and reused by later requests. Once a
// request's audio goes quiet its words are searched as the end of its audio
// would search them, so a request whose audio ends in that quiet answers
// without a search of its own. A decoder
// adapts to the channel it hears, so a request goes to the decoder that last
// heard its audio source when one is free. A decoder new to the source
// starts from what an earlier run learnt about it (kept in `channelFile`);
// where no run did, or the source sounds otherwise now, its first
// utterances are decoded again before their final text, until it has
// learnt the source; where no run did, that happens while it is spoken.
class SphinxSpeechRecognitionService final : public SpeechRecognitionService {
public:
    // Seconds of audio between two partial results of a request at most
    // (fewer when the words did not change); the first words come as soon
    // as they are heard.
    static constexpr double defaultPartialInterval = 0.1;

    explicit SphinxSpeechRecognitionService(std::string modelRoot = defaultSphinxModelRoot,
                                            double partialInterval = defaultPartialInterval,
                                            std::optional<std::filesystem::path> channelFile = std::nullopt);
    ~SphinxSpeechRecognitionService() override;

    void requestAuthorization(std::function<void(SpeechAuthorizationStatus)> handler) override;
    // A locale matches a model of the same language and region; a locale
    // without a region takes the first model of its language.
    std::shared_ptr<SpeechRecognizer> makeRecognizer(const std::string& locale) override;

    // How many decoders this service has loaded from a model so far.
    std::size_t modelLoads() const { return counts_->loads.load(); }
    // How many utterances were decoded again whole before their final text
    // (see above).
    std::size_t utterancesDecodedAgain() const { return counts_->decodedAgain.load(); }
    // How many of those were decoded again only once their audio had ended,
    // all of it left to wait for.
    std::size_t utterancesDecodedAgainAtTheirEnd() const { return counts_->decodedAtEnd.load(); }

    // How many times an utterance was searched before its audio ended,
    // once the speaker had gone quiet, and how many final texts that
    // search gave (no voice came after it).
    std::size_t searchesAhead() const { return counts_->searchesAhead.load(); }
    std::size_t finalTextsSearchedAhead() const { return counts_->keptAhead.load(); }

    struct Counts {
        std::atomic<std::size_t> loads{0};
        std::atomic<std::size_t> decodedAgain{0};
        std::atomic<std::size_t> decodedAtEnd{0};
        std::atomic<std::size_t> searchesAhead{0};
        std::atomic<std::size_t> keptAhead{0};
    };

private:
    std::shared_ptr<SphinxEngine> engine(const SphinxModel& model);

    std::string modelRoot_;
    std::size_t partialSamples_;
    std::mutex mutex_;
    // Kept for the service's life, the program's: loading a model takes far
    // longer than a press of the talk key may wait for its first words. Each
    // loaded decoder holds its own copy of the models, about 90 MB for US
    // English; there are as many as requests ran at once (listening and a
    // press: two).
    std::map<std::string, std::shared_ptr<SphinxEngine>> engines_;
    std::shared_ptr<SphinxChannelFile> channels_;
    std::shared_ptr<Counts> counts_ = std::make_shared<Counts>();
};

}  // namespace parlaro::sys
