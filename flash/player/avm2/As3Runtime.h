#pragma once
// The ActionScript 3 side of a movie's timelines: it finds the classes SymbolClass binds to the
// main timeline (the document class) and to sprites, runs their constructors when the timeline or
// sprite appears, keeps the frame scripts those register with addFrameScript, and runs a frame's
// script when its timeline enters the frame. Scripts reach the timelines through the ActionHost:
// stop, play, gotoAndPlay and gotoAndStop (frame number or label, optional scene), nextFrame,
// prevFrame, currentFrame, totalFrames, placement properties (x, y, alpha ...), named children,
// and trace. Variables a script sets on a clip are kept with it.
//
// The player queues work (Construct, FrameEntered) while it builds frames and runs it with the
// other frame scripts (RunNext). Bounded: at most MaxQueued jobs wait, state is kept for at most
// MaxObjects clips (what has left the stage is dropped first) with MaxFields variables each, base
// classes are followed MaxClassDepth deep, and scripts run within the player's step budget.

#include "flash/player/avm2/Interpreter.h"
#include "flash/swf/SwfModel.h"

#include <deque>
#include <map>
#include <memory>

namespace flash::avm2 {

class As3Runtime final : private ObjectHost {
public:
    static constexpr std::size_t MaxQueued = 4096;
    static constexpr std::size_t MaxObjects = 4096;
    static constexpr std::size_t MaxFields = 1024;
    static constexpr int MaxClassDepth = 32;

    // Null when the movie holds no ActionScript 3 code.
    static std::unique_ptr<As3Runtime> For(std::shared_ptr<const Movie> movie, ActionHost& host);
    As3Runtime(std::shared_ptr<const Movie> movie, ActionHost& host);

    // Queues the constructor of the class bound to the character (0: the document class) with the
    // clip as `this`; nothing when no class is bound to it.
    void Construct(const ClipRef& clip, std::uint16_t characterId);
    // Queues the script the clip registered for this frame (zero-based), if any.
    void FrameEntered(const ClipRef& clip, int frame);
    // Runs the first job waiting; false when none was.
    bool RunNext(long long& budget);
    void DropQueued() { queue.clear(); }

private:
    struct ClassRef {
        const abc::AbcFile* file = nullptr;
        int instance = -1;
        explicit operator bool() const { return file != nullptr; }
    };
    struct ClipObject {
        ClipRef clip; // an entry whose sprite has gone is stale
        ClassRef cls;
        std::map<QString, Value> fields;
        std::map<int, Value> frameScripts; // by zero-based frame
    };
    struct Job {
        ClipRef clip;
        int frame = -1;              // FrameEntered
        std::uint16_t character = 0; // Construct, when frame is -1
    };
    struct Scene {
        int offset = 0;
        QString name;
    };

    // ObjectHost.
    Value Get(const Value& object, const QString& name) override;
    void Set(const Value& object, const QString& name, const Value& value) override;
    bool Has(const Value& object, const QString& name) override;
    Value SuperMethod(const abc::AbcFile& file, int owner, const ClipRef& self, const QString& name) override;
    std::optional<MethodClosure> SuperConstructor(const abc::AbcFile& file, int owner,
                                                  const ClipRef& self) override;
    Value CallBuiltin(const BoundBuiltin& builtin, const std::vector<Value>& args) override;
    QString ClipText(const ClipRef& clip) override;

    ClassRef FindClass(const QString& qualifiedName) const;
    ClassRef BaseOf(ClassRef cls) const;
    // The method, getter or other trait by name in the class or its bases.
    const abc::Trait* FindTrait(ClassRef cls, const QString& name, ClassRef* holder) const;
    // The clip's state; with create, made (or remade when stale) when missing; null when full.
    ClipObject* Object(const ClipRef& clip, bool create);
    Value ClipProperty(const ClipRef& clip, const QString& name);
    bool SetClipProperty(const ClipRef& clip, const QString& name, const Value& value);
    // A frame given as a number (1-based) or label, in a scene when named; -1 when unknown.
    int FrameOf(const ClipRef& clip, const Value& frame, const Value& scene);
    void ReadScenes();

    std::shared_ptr<const Movie> movie;
    ActionHost& host;
    Interpreter interpreter;
    std::map<QString, ClassRef> classes;    // by "package.Name"
    std::map<QString, ClassRef> shortNames; // by "Name", for names given with a namespace set
    std::map<const void*, ClipObject> objects;
    std::deque<Job> queue;
    std::vector<Scene> scenes; // of the main timeline, by offset
};

} // namespace flash::avm2
