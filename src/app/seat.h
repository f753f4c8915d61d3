#pragma once

// Who has the program. This one fact decides what a model's message may do and how the
// program ends: set before the first window of a person's Start opens, so that no message a
// model sends while a question or a form waits can cut into the person's road.
enum class Player {
    Nobody,          // the login screen waits, or a headless program waits for a model
    PersonStarting,  // from Start until the task opens: questions, the subject form
    PersonPlaying,   // the task window
    PersonFinishing, // the questionnaire, the exit authentication
    Model            // a model has logged in, and plays until it resets, leaves or quits
};

class Seat {
public:
    Player player() const { return m_player; }
    void take(Player player) { m_player = player; }
    bool personHasProgram() const {
        return m_player == Player::PersonStarting || m_player == Player::PersonPlaying ||
               m_player == Player::PersonFinishing;
    }
    bool modelPlays() const { return m_player == Player::Model; }

private:
    Player m_player = Player::Nobody;
};
