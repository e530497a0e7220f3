#pragma once
// Well-formed movies that damage tests and the fuzzers start from: between them they hold every tag
// kind the reader parses, scripts of every kind the interpreter knows, buttons of both versions,
// sounds, video, text, sprites nested deep and placement cycles, and movies of old file versions.
// Each reads back whole; the only warnings are those of the placement cycles ("inside itself").
// Built with the test writer, so they change only when these builders do. Video frames need
// libavcodec's H.263 and screen video encoders; a codec without one is left out of the movies.

#include "SwfWriter.h"

#include <QByteArray>

namespace flash::writer {

// Tag groups the movies below are made of.

// Shapes of every version (ids 1-4), morphs of both versions (11, 12) and a bitmap of each kind
// (19-24), with solid, gradient and bitmap fills. Places nothing.
QByteArray ShapeTags();
// Fonts of each version (50-52, the first with its info), static text of both versions (54, 55) and
// edit texts (56 bound to _root.field, 57 a device font). Places nothing.
QByteArray TextTags();
// A video stream of each codec that can be encoded here (ids 62, 63), its frames, and its placement
// at depth 5 + codec showing frame 1.
QByteArray VideoTags();

// Whole movies.

// Every tag kind the reader parses, and some it keeps raw: the groups above, sounds, every
// placement field, filters, a sprite inside a sprite, labels and removals, over two frames.
QByteArray EverythingMovie(Movie::Compression compression = Movie::Compression::None);
// The shapes and bitmaps placed as a mask, through filters and a blend mode, and a morph halfway.
QByteArray ShapesMovie();
// The text tags placed, with a frame script that sets the bound field.
QByteArray TextMovie();
// An event sound started with an envelope, a stream sound of uncompressed blocks, and a frame
// script's Sound object playing the sound by its linkage name.
QByteArray SoundMovie();
// Frame scripts, a function, clip events, init actions, an exported sprite attached by name, a bound
// text field, and buttons of both versions with their sounds, keys and colour transform, all on
// named sprites so that damage lands in action records, button records and condition lists.
QByteArray ScriptMovie();
// An ActionScript 3 movie of four frames: a document class whose frame scripts trace, loop, compare,
// set a child's placement, call objects outside the player's subset, go to a label and stop, and a
// sprite class ("Ball") stopping itself on its second frame.
QByteArray As3Movie();
// Classes as the ActionScript 2 compiler writes them, defined in _global by a script: A(x) sets
// this.x, A.prototype.get returns it and toString gives "A:" and x; B(x) extends A and calls
// super(x * 2), its get returns "B" + super.get(); C(x) extends B and calls super(x + 1); A
// implements the interface I.
QByteArray ClassesScript();
// A version 8 movie whose frame scripts use objects, arrays, strings and those classes.
QByteArray ObjectsMovie();
// A version 8 movie whose clips are measured, hit-tested, renamed, swapped and made by scripts,
// take the mouse as buttons (onPress, onRollOver) and drag, and whose MovieClipLoader and
// loadMovieNum ask for files (refused: the movie is read from memory) and level 1.
QByteArray ClipsMovie();
// A version 8 movie whose script draws on the main timeline and in a sprite (lines, curves, solid and
// gradient fills, clear), and gives the sprite filters, a blend mode and a transform from flash.geom.
QByteArray DrawingMovie();
// A version 8 movie whose scripts make bitmaps of absurd and invalid sizes, set, fill, copy and draw
// pixels far outside them, attach them at absurd depths, fill with them through singular matrices,
// and use them after disposing of them; what it reads back is traced.
QByteArray BitmapMovie();
// A version 8 movie whose script makes a text field and sets its HTML, formats and look.
QByteArray TextFieldsMovie();
// A version 8 movie whose script starts intervals (a function and an object's method) and a timeout
// that clears one, listens to Key and Mouse, hides the mouse, reads Stage and Date, and asks for a
// getURL, an fscommand and a load by URL.
QByteArray TimersMovie();
// A version 8 movie whose #initclip code defines a class extending MovieClip (constructor, onEnterFrame)
// and registers it for an exported sprite placed by the timeline and attached by the frame script,
// which also watches and unwatches an object's property.
QByteArray RegisteredClassMovie();
// A version 5 movie: a label in the old text encoding, and a removal by character and depth.
QByteArray OldMovie();
// Thirteen sprites each inside the next.
QByteArray DeepNestedMovie();
// Sprite 2 places sprite 3, which places sprite 2 and a shape: a placement cycle.
QByteArray CycleMovie();
// A version 5 movie whose sprite places itself beside a sprite that places and removes a shape.
QByteArray SelfPlacingMovie();

} // namespace flash::writer
